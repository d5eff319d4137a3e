// Text as the platform's ANSI functions hand it over, and the Unicode a hive file stores. Hives
// keep names in UTF-8 (as hivex gives them) and string values in UTF-16LE; the run compares
// 8-bit text in Windows-1252, the ANSI code page of Western installations. Characters that code
// page lacks become '?', as the platform's own conversion makes them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace endpointfix {

// Windows-1252 from 0x80 to 0x9f; the rest of the code page is Latin-1. The five bytes the code
// page leaves undefined (0x81, 0x8d, 0x8f, 0x90, 0x9d) stand for the C1 controls of the same
// number.
inline constexpr char16_t kWindows1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

// The Unicode character a Windows-1252 byte stands for. Inline, with no library behind it, so
// that the Windows check prints its registry text as Unicode without linking the rest.
constexpr char32_t ansi_to_unicode(std::uint8_t byte) {
    return byte >= 0x80 && byte < 0xA0 ? kWindows1252High[byte - 0x80] : byte;
}

// What utf8_character gives for a malformed sequence: no character at all.
inline constexpr char32_t kNotUtf8 = 0x110000;

// The character the UTF-8 text `s` of `n` bytes (n > 0) begins with, and in `length` the bytes
// it takes; a malformed sequence gives kNotUtf8 and is 1 byte long.
constexpr char32_t utf8_character(const std::uint8_t* s, std::size_t n, std::size_t& length) {
    const std::uint8_t lead = s[0];
    length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
    char32_t c = length == 1 ? lead : lead & (0x3F >> (length - 1));
    bool ok = lead < 0x80 || (lead >= 0xC2 && lead < 0xF5);
    for (std::size_t k = 1; k < length; ++k) {
        const std::uint8_t next = k < n ? s[k] : 0;
        ok = ok && (next & 0xC0) == 0x80;
        c = c << 6 | (next & 0x3F);
    }
    if (!ok) length = 1;
    return ok ? c : kNotUtf8;
}

std::string utf8_to_ansi(std::string_view utf8);
std::string ansi_to_utf8(std::string_view ansi);

// `size` bytes of UTF-16LE; an odd last byte is dropped.
std::string utf16le_to_ansi(const std::uint8_t* data, std::size_t size);
std::string ansi_to_utf16le(std::string_view ansi);

}  // namespace endpointfix
