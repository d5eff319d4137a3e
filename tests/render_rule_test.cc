#include <gtest/gtest.h>

#include "tests/endpoint_store.h"

namespace endpointfix::test {
namespace {

const std::string kEndpoint = kRender + "\\{0.0.0.00000000}.{7a2b9c1d-0000-4e5f-8a9b-000000000002}";
const std::string kProperties = kEndpoint + "\\Properties";

TEST(RenderRule, MatchesFormFactorThreeInAnyShortEncoding) {
    const struct {
        const char* name;
        std::uint32_t type;
        Bytes form_factor;
        bool want_match;
    } cases[] = {
        {"dword 3", kDword, hex("03 00 00 00"), true},
        {"2-byte 3", kBinary, hex("03 00"), true},
        {"1-byte 3", kBinary, hex("03"), true},
        {"8-byte 3", kBinary, hex("03 00 00 00 00 00 00 00"), false},
        {"dword 1 (speakers)", kDword, hex("01 00 00 00"), false},
        {"3 in a higher byte", kDword, hex("00 03 00 00"), false},
        {"0x0103", kDword, hex("03 01 00 00"), false},
        {"3 in the top byte", kDword, hex("00 00 00 03"), false},
        {"empty", kBinary, {}, false},
    };
    for (const auto& c : cases) {
        MemoryStore store;
        store.set_value(kProperties, kFormFactor, c.type, c.form_factor);
        run_checked(store);
        const std::vector<std::string> want =
            c.want_match ? std::vector<std::string>{kProperties + "|" + kFormat,
                                                    kProperties + "|" + kEightByte}
                         : std::vector<std::string>{};
        EXPECT_EQ(written(store), want) << c.name;
    }
}

TEST(RenderRule, EachWriteDependsOnlyOnItsOwnRead) {
    const Bytes other = hex("41 00 00 00 04 00 00 00 01 02 03 04");
    const Bytes oversized(257, 0x41);
    const Bytes largest(256, 0x41);
    const struct {
        const char* name;
        const Bytes* format;  // null: absent
        const Bytes* eight_byte;
        Bytes want_format, want_eight_byte;
    } cases[] = {
        {"neither stored", nullptr, nullptr, kWantFormat, kWantEightByte},
        {"format only", &other, nullptr, other, kWantEightByte},
        {"eight-byte only", nullptr, &other, kWantFormat, other},
        {"both stored, other contents", &other, &other, other, other},
        {"format oversized", &oversized, &other, kWantFormat, other},
        {"eight-byte oversized", &other, &oversized, other, kWantEightByte},
        {"both 256 bytes", &largest, &largest, largest, largest},
    };
    for (const auto& c : cases) {
        MemoryStore store;
        store.set_value(kProperties, kFormFactor, kDword, hex("03 00 00 00"));
        if (c.format) store.set_value(kProperties, kFormat, kBinary, *c.format);
        if (c.eight_byte) store.set_value(kProperties, kEightByte, kBinary, *c.eight_byte);
        const std::size_t stored_before = (c.format != nullptr) + (c.eight_byte != nullptr);
        run_checked(store);
        EXPECT_EQ(store.find_value(kProperties, kFormat)->bytes, c.want_format) << c.name;
        EXPECT_EQ(store.find_value(kProperties, kEightByte)->bytes, c.want_eight_byte) << c.name;
        for (const auto& w : store.writes()) {
            EXPECT_EQ(w.key_path, kProperties) << c.name;
            EXPECT_EQ(w.type, kBinary) << c.name;
        }
        const bool rewrote = (c.format == &oversized) || (c.eight_byte == &oversized);
        EXPECT_EQ(store.writes().size(), 2 - stored_before + rewrote) << c.name;
    }
}

TEST(RenderRule, NonMatchingKeyFallsThroughToTheNextPropertyKey) {
    MemoryStore store;
    store.set_value(kEndpoint + "\\A", kFormFactor, kDword, hex("01 00 00 00"));
    store.set_value(kEndpoint + "\\B", "unrelated", kDword, hex("03 00 00 00"));
    store.set_value(kEndpoint + "\\C", kFormFactor, kDword, hex("03 00 00 00"));
    run_checked(store);
    EXPECT_EQ(written(store), (std::vector<std::string>{kEndpoint + "\\C|" + kFormat,
                                                        kEndpoint + "\\C|" + kEightByte}));
}

}  // namespace
}  // namespace endpointfix::test
