#include <gtest/gtest.h>

#include "tests/endpoint_store.h"

namespace endpointfix::test {
namespace {

const std::string kEndpoint =
    kCapture + "\\{0.0.1.00000000}.{5e1a7c3b-0000-4c1a-9d2e-000000000001}";

struct DescriptionCase {
    const char* name;
    std::uint32_t type;
    Bytes description;
    bool want_active;
};

TEST(CaptureRule, MatchesDescriptionsBeginningWithWaveOutMix) {
    const DescriptionCase cases[] = {
        {"exact", kString, bytes({"WaveOut Mix\0", 12}), true},
        {"longer", kString, bytes({"WaveOut Mix 2\0", 14}), true},
        {"exactly 11 bytes, no zero", kBinary, bytes("WaveOut Mix"), true},
        {"binary value", kBinary, bytes("WaveOut Mix\x01\x02"), true},
        {"other case", kString, bytes({"waveout mix\0", 12}), false},
        {"ten characters", kString, bytes({"WaveOut Mi\0", 11}), false},
        {"stops after WaveOut", kString, bytes({"WaveOut\0", 8}), false},
        {"zero byte inside", kString, bytes({"WaveOut\0Mix\0", 12}), false},
        {"empty", kString, bytes({"\0", 1}), false},
        {"no bytes", kString, {}, false},
        {"256 bytes", kBinary, bytes("WaveOut Mix" + std::string(245, 'x')), true},
        {"257 bytes", kBinary, bytes("WaveOut Mix" + std::string(246, 'x')), false},
    };
    for (const auto& c : cases) {
        MemoryStore store;
        store.set_value(kEndpoint, "DeviceState", kDword, hex("04 00 00 00"));
        store.set_value(kEndpoint + "\\Properties", kDescription, c.type, c.description);
        run_checked(store);
        const Bytes want = c.want_active ? kActive : hex("04 00 00 00");
        EXPECT_EQ(store.find_value(kEndpoint, "DeviceState")->bytes, want) << c.name;
        EXPECT_EQ(store.writes().size(), c.want_active ? 1u : 0u) << c.name;
    }
}

TEST(CaptureRule, WritesDwordOnTheEndpointKeyEvenWhenAlreadyActive) {
    MemoryStore store;
    store.set_value(kEndpoint, "DeviceState", kDword, hex("01 00 00 00"));
    store.set_string(kEndpoint + "\\Properties", kDescription, "WaveOut Mix");
    run_checked(store);
    ASSERT_EQ(store.writes().size(), 1u);
    EXPECT_EQ(store.writes()[0].key_path, kEndpoint);
    EXPECT_EQ(store.writes()[0].name, "DeviceState");
    EXPECT_EQ(store.writes()[0].type, kDword);
    EXPECT_EQ(store.writes()[0].bytes, kActive);
}

TEST(CaptureRule, OversizedDescriptionFallsThroughToTheNextPropertyKey) {
    MemoryStore store;
    const Bytes huge = bytes("WaveOut Mix" + std::string(289, 'x'));
    store.set_value(kEndpoint + "\\A", kDescription, kBinary, huge);
    store.set_string(kEndpoint + "\\B", kDescription, "WaveOut Mix");
    run_checked(store);
    EXPECT_EQ(written(store), std::vector<std::string>{kEndpoint + "|DeviceState"});
}

TEST(CaptureRule, EndpointWithoutDescriptionIsLeftAlone) {
    MemoryStore store;
    store.set_value(kEndpoint, "DeviceState", kDword, hex("04 00 00 00"));
    store.set_string(kEndpoint + "\\Properties", "{a45c254e-df1c-4efd-8020-67d146a850e0},3",
                     "WaveOut Mix");
    store.set_string(kEndpoint + "\\Properties", "DeviceDesc", "WaveOut Mix");
    run_checked(store);
    EXPECT_TRUE(store.writes().empty());
}

}  // namespace
}  // namespace endpointfix::test
