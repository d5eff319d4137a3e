// The dry run's verdict on each write, and how registry text is made safe to print.
#include <gtest/gtest.h>

#include <cstdio>

#include "check/check.h"
#include "check/text.h"
#include "registry/dry_run_store.h"
#include "registry/store_wrapper.h"
#include "tests/endpoint_store.h"

namespace endpointfix::test {
namespace {

struct Writes final : DryRunListener {
    std::vector<PendingWrite> seen;
    void write(KeyHandle, const char*, const StoredValue&, const PendingWrite& w) override {
        seen.push_back(w);
    }
    void opened(KeyHandle) override {}
    void listed(KeyHandle) override {}
    void read(KeyHandle, const char*, const StoredValue&) override {}
    void refused(const char*, Outcome, bool) override {}
};

// A store whose key "{gone}" is listed but deleted before it can be opened.
struct VanishingStore final : StoreWrapper {
    using StoreWrapper::StoreWrapper;
    Status open(KeyHandle parent, const char* path, KeyHandle& out) override {
        return std::string_view(path) == "{gone}" ? kFileNotFound
                                                  : StoreWrapper::open(parent, path, out);
    }
};

TEST(DryRun, AWriteIsAChangeUnlessTheSameTypeAndBytesAreStored) {
    const std::string mix = kCapture + "\\{0.0.1.00000000}.{mix}";
    const struct {
        const char* name;
        std::uint32_t type;  // 0: no DeviceState
        Bytes stored;
        bool deny_writes, want_change;
    } cases[] = {
        {"absent", 0, {}, false, true},
        {"equal", kDword, kActive, false, false},
        {"equal bytes, another type", kBinary, kActive, false, true},
        {"other bytes", kDword, hex("04 00 00 00"), false, true},
        {"other bytes, writes denied", kDword, hex("04 00 00 00"), true, true},
    };
    for (const auto& c : cases) {
        MemoryStore store;
        store.set_string(mix + "\\Properties", kDescription, "WaveOut Mix");
        if (c.type != 0) store.set_value(mix, "DeviceState", c.type, c.stored);
        if (c.deny_writes) store.deny_writes();
        const std::string before = store.dump();
        Writes writes;
        DryRunStore dry(store, store, writes);
        run(dry);
        ASSERT_EQ(writes.seen.size(), 1u) << c.name;
        EXPECT_EQ(writes.seen[0].change, c.want_change) << c.name;
        EXPECT_EQ(writes.seen[0].access, c.deny_writes ? Outcome::kDenied : Outcome::kDone)
            << c.name;
        EXPECT_EQ(store.dump(), before) << c.name << ": the dry run changed the store";
        EXPECT_EQ(store.open_handles(), 0u) << c.name;
    }
}

TEST(Check, ExitStatusSaysWhatARunWouldDo) {
    const std::string mix = kCapture + "\\{0.0.1.00000000}.{mix}";
    const std::string overlong(256, '0');  // listed before the other endpoints
    const struct {
        const char* name;
        bool store, deny_open, deny_writes;
        Bytes state;
        const char* other_endpoint;  // added beside the endpoint, where set
        bool deny_other, full_output;
        int want;
        std::string want_line;  // a line the report must hold, where set
    } cases[] = {
        {"no store",
         false,
         false,
         false,
         {},
         nullptr,
         false,
         false,
         kNothingToChange,
         "endpointfix-check: no endpoint store here, nothing to change"},
        {"already active", true, false, false, kActive, nullptr, false, false, kNothingToChange,
         "endpointfix-check: 1 of 1 endpoints matched, 0 changes pending, 0 blocked, 0 unreadable"},
        {"pending", true, false, false, hex("04 00 00 00"), nullptr, false, false, kChangesPending,
         "    DeviceState: 0x00000004 (not present) -> 0x00000001 (active)"},
        {"blocked", true, false, true, hex("04 00 00 00"), nullptr, false, false,
         kBlockedOrUnreadable,
         "    DeviceState: 0x00000004 (not present) -> blocked: access denied (run endpointfix as "
         "SYSTEM)"},
        {"root unreadable", true, true, false, kActive, nullptr, false, false, kBlockedOrUnreadable,
         "unreadable: " + kCapture + ": access denied"},
        {"long name before other endpoints", true, false, false, kActive, overlong.c_str(), false,
         false, kBlockedOrUnreadable,
         "unreadable: " + kCapture +
             " (its subkeys): a subkey's name is too long to list; later subkeys not seen"},
        {"key gone between listing and opening", true, false, false, kActive, "{gone}", false,
         false, kBlockedOrUnreadable,
         "unreadable: " + kCapture + "\\{gone}: not found by the name it is listed by"},
        {"key denied, name escaped", true, false, false, kActive, "{x\x1b[2J}", true, false,
         kBlockedOrUnreadable, "unreadable: " + kCapture + "\\{x\\x1b[2J}: access denied"},
        {"output cannot be written", true, false, false, hex("04 00 00 00"), nullptr, false, true,
         kOutputFailed, ""},
    };
    for (const auto& c : cases) {
        MemoryStore store;
        if (c.store) store.set_string(mix + "\\Properties", kDescription, "WaveOut Mix");
        if (c.store) store.set_value(mix, "DeviceState", kDword, c.state);
        if (c.other_endpoint) store.create_key(kCapture + "\\" + c.other_endpoint);
        if (c.deny_other) store.deny_open(kCapture + "\\" + c.other_endpoint);
        if (c.deny_open) store.deny_open(kCapture);
        if (c.deny_writes) store.deny_writes();
        VanishingStore vanishing(store);
        std::FILE* out = c.full_output ? std::fopen("/dev/full", "w") : std::tmpfile();
        ASSERT_NE(out, nullptr) << c.name;
        EXPECT_EQ(run_check(vanishing, store, out, {}), c.want) << c.name;
        std::string report(8192, '\0');
        std::rewind(out);
        report.resize(std::fread(report.data(), 1, report.size(), out));
        std::fclose(out);
        if (!c.want_line.empty()) {
            EXPECT_NE(report.find(c.want_line + "\n"), std::string::npos)
                << c.name << ": want the line\n"
                << c.want_line << "\ngot the report\n"
                << report;
        }
    }
}

// A headphone with no stored format (or one of `format`) and the description `text`: the line
// of the report or the .reg file each output must hold.
TEST(Check, ReportAndRegFileLines) {
    const std::string phones = kRender + "\\{0.0.0.00000000}.{phones}\\Properties";
    const struct {
        const char* name;
        CheckOutput output;
        bool utf8, format;
        std::string text, want;
    } cases[] = {
        {"a key's two values in one .reg section", CheckOutput::kRegFile, true, false, "Phones",
         "\n[HKEY_LOCAL_MACHINE\\" + phones + "]\n\"" + kFormat +
             "\"=hex:41,00,86,74,28,00,00,00,fe,ff,02,00,80,bb,00,00,00,dc,05,00,08,00,20,00,16,00,"
             "20,00,03,00,00,00,03,00,00,00,00,00,10,00,80,00,00,aa,00,38,9b,71\n\"" +
             kEightByte + "\"=hex:41,00,63,00,08,00,00,00,a0,86,01,00,00,00,00,00\n"},
        {"a format of 0 bytes", CheckOutput::kReport, true, true, "Phones",
         "    Properties\\" + kFormat + ": 0 bytes: ok\n"},
        {"Windows-1252 letters in UTF-8", CheckOutput::kReport, true, false, "WaveOut Mix \x80\xe9",
         "description \"WaveOut Mix \xe2\x82\xac\xc3\xa9\"\n"},
        {"Windows-1252 as it stands", CheckOutput::kReport, false, false, "WaveOut Mix \x80\xe9",
         "description \"WaveOut Mix \\x80\xe9\"\n"},
    };
    for (const auto& c : cases) {
        MemoryStore store;
        store.set_string(phones, kDescription, c.text);
        store.set_value(phones, kFormFactor, kDword, hex("03 00 00 00"));
        if (c.format) store.set_value(phones, kFormat, kBinary, {});
        std::FILE* out = std::tmpfile();
        run_check(store, store, out, {c.output, "endpointfix-check", c.utf8});
        std::string got(8192, '\0');
        std::rewind(out);
        got.resize(std::fread(got.data(), 1, got.size(), out));
        std::fclose(out);
        EXPECT_NE(got.find(c.want), std::string::npos) << c.name << ": want\n"
                                                       << c.want << "got\n"
                                                       << got;
    }
}

TEST(Escaping, ControlBytesOfRegistryTextCannotReachTheTerminal) {
    const struct {
        const char *name, *text, *want;
        bool utf8;
    } cases[] = {
        {"escape sequence", "\x1b[2J\t", "\\x1b[2J\\x09", false},
        {"forged line", "a\r\nendpointfix-check: 0", "a\\x0d\\x0aendpointfix-check: 0", false},
        {"DEL and C1 controls", "\x7f\x80\x9b\x9f", "\\x7f\\x80\\x9b\\x9f", false},
        {"letters of other languages", "Kopfh\xf6rer \xa0", "Kopfh\xf6rer \xa0", false},
        {"bytes Windows-1252 leaves to C1, in UTF-8", "\x81\x9d\x9b", "\\x81\\x9d\xe2\x80\xba",
         true},
    };
    for (const auto& c : cases) {
        std::FILE* out = std::tmpfile();
        print_escaped({out, c.utf8}, c.text);
        std::rewind(out);
        char got[64] = {};
        got[std::fread(got, 1, sizeof(got) - 1, out)] = '\0';
        std::fclose(out);
        EXPECT_STREQ(got, c.want) << c.name;
    }
}

}  // namespace
}  // namespace endpointfix::test
