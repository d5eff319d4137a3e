// The check's JSON document, read back with jq: the report's states, and text that stays ASCII.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>

#include "check/check.h"
#include "tests/endpoint_store.h"

namespace endpointfix::test {
namespace {

const std::string kPhones = kRender + "\\{0.0.0.00000000}.{phones}\\Properties";

std::string temp_path() {
    std::string path = "/tmp/endpointfix-json-XXXXXX";
    close(mkstemp(path.data()));
    return path;
}

// Runs the check into the file at `path`, and returns what it wrote.
std::string checked(MemoryStore& store, CheckOptions options, const std::string& path,
                    int& status) {
    std::FILE* out = std::fopen(path.c_str(), "w+");
    status = run_check(store, store, out, options);
    std::string text(1 << 16, '\0');
    std::rewind(out);
    text.resize(std::fread(text.data(), 1, text.size(), out));
    std::fclose(out);
    return text;
}

std::string jq(const std::string& program, const std::string& path) {
    std::FILE* pipe = popen(("jq -r '" + program + "' " + path + " 2>&1").c_str(), "r");
    std::string text(1 << 16, '\0');
    text.resize(std::fread(text.data(), 1, text.size(), pipe));
    const int status = pclose(pipe);
    return status == 0 ? text : "jq failed (" + std::to_string(status) + "): " + text;
}

// A line an endpoint, "FLOW KEY: STATE...", one for each key that cannot be read, and the status.
constexpr char kStates[] = R"jq(
    (.endpoints[] | "\(.flow) \(.key):" + ([.values[] | " " + .state] | add // "")),
    (.unreadable[] | "unreadable"),
    "status \(.status)\(if .summary.no_store then " no store" else "" end)")jq";

// The same lines, from the report.
std::string states_of_report(const std::string& report, bool applying, int status) {
    std::string out, line, end = "status " + std::to_string(status);
    for (std::size_t at = 0, next; at < report.size(); at = next + 1) {
        next = report.find('\n', at);
        line = report.substr(at, next - at);
        if (line.starts_with("capture ") || line.starts_with("render "))
            out += line.substr(0, line.find(',')) + ":\n";
        else if (line.starts_with("    "))
            out.insert(out.size() - 1, line.find(" -> blocked: ") != std::string::npos ? " blocked"
                                       : line.find(" -> ") == std::string::npos        ? " ok"
                                       : applying                                      ? " made"
                                                  : " pending");
        else if (line.starts_with("unreadable: "))
            out += "unreadable\n";
        else if (line.ends_with("no endpoint store here, nothing to change"))
            end += " no store";
    }
    return out + end + "\n";
}

TEST(Json, EachEndpointHasTheReportsStatesAndTheDocumentTheStatus) {
    const std::string mix = kCapture + "\\{0.0.1.00000000}.{mix}";
    const struct {
        const char* name;
        bool store, phones, deny_writes, deny_render, applying;
    } cases[] = {
        {"no store", false, false, false, false, false},
        {"pending", true, false, false, false, false},
        {"made", true, false, false, false, true},
        {"blocked, with headphones", true, true, true, false, false},
        {"a root unreadable", true, false, false, true, false},
    };
    const std::string path = temp_path();
    for (const auto& c : cases) {
        MemoryStore store;
        if (c.store) store.set_string(mix + "\\Properties", kDescription, "WaveOut Mix");
        if (c.store) store.set_value(mix, "DeviceState", kDword, hex("04 00 00 00"));
        if (c.phones) store.set_value(kPhones, kFormFactor, kDword, hex("03 00 00 00"));
        if (c.phones) store.set_value(kPhones, kFormat, kBinary, kWantFormat);
        if (c.deny_writes) store.deny_writes();
        if (c.deny_render) store.deny_open(kRender);
        int report_status = 0, status = 0;
        CheckOptions options{CheckOutput::kReport, "endpointfix-check", false, c.applying};
        const std::string report = checked(store, options, path, report_status);
        options.output = CheckOutput::kJson;
        checked(store, options, path, status);
        EXPECT_EQ(status, report_status) << c.name;
        EXPECT_EQ(jq(kStates, path), states_of_report(report, c.applying, status))
            << c.name << ", the report:\n"
            << report;
        std::FILE* full = std::fopen("/dev/full", "w");
        EXPECT_EQ(run_check(store, store, full, options), kOutputFailed) << c.name;
        std::fclose(full);
    }
    std::remove(path.c_str());
}

TEST(Json, TextIsWrittenAsAsciiAndReadsBackAsItsCharacters) {
    MemoryStore store;
    store.set_string(kPhones, kDescription, "say \"hi\" \\ \t caf\xe9 \x80 \x81");
    store.set_value(kPhones, kFormFactor, kDword, hex("03 00 00 00"));
    const std::string path = temp_path();
    int status = 0;
    CheckOptions options{CheckOutput::kJson};
    options.source = "/mnt/caf\xc3\xa9/\xff";  // a file's path: UTF-8, but where it is not
    const std::string text = checked(store, options, path, status);
    for (const char* want :
         {R"("text": "say \"hi\" \\ \u0009 caf\u00e9 \u20ac \u0081")",
          R"("source": "/mnt/caf\u00e9/\u00ff")",
          R"("form_factor": {"type": "REG_DWORD", "dword": 3})",
          R"("now": null, "new": {"type": "REG_BINARY", "hex": "4100867428000000feff)"})
        EXPECT_NE(text.find(want), std::string::npos) << "want " << want << " in\n" << text;
    for (const char c : text) ASSERT_TRUE(static_cast<unsigned char>(c) < 0x80) << text;
    EXPECT_EQ(jq(".endpoints[0].description.text", path),
              "say \"hi\" \\ \t caf\xc3\xa9 \xe2\x82\xac \xc2\x81\n");
    std::remove(path.c_str());
}

}  // namespace
}  // namespace endpointfix::test
