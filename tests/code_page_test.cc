// Text between a hive's Unicode and the 8-bit Windows-1252 text the rules compare.
#include <gtest/gtest.h>

#include "registry/code_page.h"
#include "tests/endpoint_store.h"

namespace endpointfix::test {
namespace {

TEST(CodePage, HiveTextBecomesWindows1252WithQuestionMarksForTheRest) {
    const struct {
        const char* name;
        Bytes utf16le;
        std::string utf8, want;
    } cases[] = {
        {"ASCII", hex("57 00 61 00 76 00 65 00"), "Wave", "Wave"},
        {"Latin-1 letters", hex("4b 00 f6 00 70 00 66 00"), "K\xc3\xb6pf", "K\xf6pf"},
        {"the euro sign, 0x80 in the code page", hex("ac 20"), "\xe2\x82\xac", "\x80"},
        {"a letter the code page lacks", hex("a9 03 41 00"),
         "\xce\xa9"
         "A",
         "?A"},
        {"a character outside the BMP is one", hex("3d d8 00 de 41 00"),
         "\xf0\x9f\x98\x80"
         "A",
         "?A"},
        {"undefined 0x81 stands for U+0081", hex("81 00"), "\xc2\x81", "\x81"},
        {"a lone surrogate, malformed UTF-8", hex("00 d8 28 00"), "\xc3(", "?("},
        {"the terminating zero is kept", hex("41 00 00 00"), std::string("A\0", 2),
         std::string("A\0", 2)},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(utf16le_to_ansi(c.utf16le.data(), c.utf16le.size()), c.want) << c.name;
        EXPECT_EQ(utf8_to_ansi(c.utf8), c.want) << c.name;
    }
    EXPECT_EQ(utf16le_to_ansi(hex("41 00 42").data(), 3), "A") << "an odd last byte is dropped";
    EXPECT_EQ(ansi_to_utf8("\x80\xe9"), "\xe2\x82\xac\xc3\xa9");
    const std::string utf16 = ansi_to_utf16le("A\x80");
    EXPECT_EQ(Bytes(utf16.begin(), utf16.end()), hex("41 00 ac 20"));
}

}  // namespace
}  // namespace endpointfix::test
