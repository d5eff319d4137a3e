#include "registry/code_page.h"

namespace endpointfix {
namespace {

// Windows-1252 from 0x80 to 0x9f; the rest of the code page is Latin-1.
constexpr char16_t kHigh[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

char to_ansi(char32_t c) {
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) return static_cast<char>(c);
    for (int i = 0; i < 32; ++i)
        if (kHigh[i] == c) return static_cast<char>(0x80 + i);
    return '?';
}

void append_utf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | c >> 6);
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | c >> 12);
        out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

}  // namespace

char32_t ansi_to_unicode(std::uint8_t byte) {
    return byte >= 0x80 && byte < 0xA0 ? kHigh[byte - 0x80] : byte;
}

// Each character, well formed or not, becomes one byte: a malformed sequence is one '?'.
std::string utf8_to_ansi(std::string_view utf8) {
    std::string out;
    for (std::size_t i = 0; i < utf8.size();) {
        const auto lead = static_cast<std::uint8_t>(utf8[i]);
        const std::size_t length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
        char32_t c = length == 1 ? lead : lead & (0x3F >> (length - 1));
        bool ok = lead < 0x80 || (lead >= 0xC2 && lead < 0xF5);
        for (std::size_t k = 1; k < length; ++k) {
            const auto next = i + k < utf8.size() ? static_cast<std::uint8_t>(utf8[i + k]) : 0;
            ok = ok && (next & 0xC0) == 0x80;
            c = c << 6 | (next & 0x3F);
        }
        out += ok ? to_ansi(c) : '?';
        i += ok ? length : 1;
    }
    return out;
}

std::string ansi_to_utf8(std::string_view ansi) {
    std::string out;
    for (char c : ansi) append_utf8(out, ansi_to_unicode(static_cast<std::uint8_t>(c)));
    return out;
}

// A surrogate pair is one character, and so one '?'.
std::string utf16le_to_ansi(const std::uint8_t* data, std::size_t size) {
    std::string out;
    for (std::size_t i = 0; i + 1 < size; i += 2) {
        const char16_t unit = static_cast<char16_t>(data[i] | data[i + 1] << 8);
        const bool pair =
            unit >= 0xD800 && unit < 0xDC00 && i + 3 < size && (data[i + 3] & 0xFC) == 0xDC;
        out += unit >= 0xD800 && unit < 0xE000 ? '?' : to_ansi(unit);
        i += pair ? 2 : 0;
    }
    return out;
}

std::string ansi_to_utf16le(std::string_view ansi) {
    std::string out;
    for (char c : ansi) {
        const char32_t u = ansi_to_unicode(static_cast<std::uint8_t>(c));
        out += static_cast<char>(u & 0xFF);
        out += static_cast<char>(u >> 8);
    }
    return out;
}

}  // namespace endpointfix
