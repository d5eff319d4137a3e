#include <gtest/gtest.h>

#include "tests/endpoint_store.h"

namespace endpointfix::test {
namespace {

const std::string kMix = kCapture + "\\{0.0.1.00000000}.{mix}";
const std::string kMic = kCapture + "\\{0.0.1.00000000}.{mic}";
const std::string kPhones = kRender + "\\{0.0.0.00000000}.{phones}";
const std::string kSpeakers = kRender + "\\{0.0.0.00000000}.{speakers}";

void seed_capture(MemoryStore& store) {
    store.set_value(kMix, "DeviceState", kDword, hex("04 00 00 00"));
    store.set_string(kMix + "\\Properties", kDescription, "WaveOut Mix");
    store.set_value(kMic, "DeviceState", kDword, hex("04 00 00 00"));
    store.set_string(kMic + "\\Properties", kDescription, "Microphone");
}

void seed_render(MemoryStore& store) {
    store.set_value(kPhones + "\\Properties", kFormFactor, kDword, hex("03 00 00 00"));
    store.set_value(kSpeakers + "\\Properties", kFormFactor, kDword, hex("01 00 00 00"));
}

const std::vector<std::string> kCaptureWrites = {kMix + "|DeviceState"};
const std::vector<std::string> kRenderWrites = {kPhones + "\\Properties|" + kFormat,
                                                kPhones + "\\Properties|" + kEightByte};

TEST(Run, PassesRunCaptureFirstOverWhicheverRootsExist) {
    const struct {
        const char* name;
        bool capture, render;
        std::vector<std::string> want;
    } cases[] = {
        {"neither root", false, false, {}},
        {"only Render", false, true, kRenderWrites},
        {"only Capture", true, false, kCaptureWrites},
        {"both, capture first",
         true,
         true,
         {kCaptureWrites[0], kRenderWrites[0], kRenderWrites[1]}},
    };
    for (const auto& c : cases) {
        MemoryStore store;
        store.create_key("SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\MMDevices\\Audio");
        if (c.capture) seed_capture(store);
        if (c.render) seed_render(store);
        const std::string before = store.dump();
        run_checked(store);
        EXPECT_EQ(written(store), c.want) << c.name;
        if (c.want.empty()) {
            EXPECT_EQ(store.dump(), before) << c.name;
        }
    }
}

TEST(Run, UnopenableCaptureRootStillLetsRenderRun) {
    MemoryStore store;
    seed_capture(store);
    seed_render(store);
    store.deny_open(kCapture);
    run_checked(store);
    EXPECT_EQ(written(store), kRenderWrites);
}

TEST(Run, SecondRunRewritesOnlyDeviceState) {
    MemoryStore store;
    seed_capture(store);
    seed_render(store);
    run_checked(store);
    const std::string after_first = store.dump();
    const std::size_t first_writes = store.writes().size();
    run_checked(store);
    EXPECT_EQ(store.dump(), after_first);
    const std::vector<std::string> all = written(store);
    EXPECT_EQ(std::vector<std::string>(all.begin() + first_writes, all.end()), kCaptureWrites);
}

TEST(Run, FailedWritesPassInSilence) {
    MemoryStore store;
    seed_capture(store);
    seed_render(store);
    store.deny_writes();
    const std::string before = store.dump();
    run_checked(store);
    EXPECT_EQ(store.dump(), before);
    EXPECT_EQ(store.counts().write, 3u) << "each write is still attempted once";
}

}  // namespace
}  // namespace endpointfix::test
