#include "registry/code_page.h"

namespace endpointfix {
namespace {

char to_ansi(char32_t c) {
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) return static_cast<char>(c);
    for (int i = 0; i < 32; ++i)
        if (kWindows1252High[i] == c) return static_cast<char>(0x80 + i);
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

// Each character, well formed or not, becomes one byte: a malformed sequence is one '?'.
std::string utf8_to_ansi(std::string_view utf8) {
    std::string out;
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(utf8.data());
    for (std::size_t i = 0, length; i < utf8.size(); i += length) {
        const char32_t c = utf8_character(bytes + i, utf8.size() - i, length);
        out += c == kNotUtf8 ? '?' : to_ansi(c);
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
