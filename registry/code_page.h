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

// The Unicode character a Windows-1252 byte stands for. The five bytes the code page leaves
// undefined (0x81, 0x8d, 0x8f, 0x90, 0x9d) stand for the C1 controls of the same number.
char32_t ansi_to_unicode(std::uint8_t byte);

std::string utf8_to_ansi(std::string_view utf8);
std::string ansi_to_utf8(std::string_view ansi);

// `size` bytes of UTF-16LE; an odd last byte is dropped.
std::string utf16le_to_ansi(const std::uint8_t* data, std::size_t size);
std::string ansi_to_utf16le(std::string_view ansi);

}  // namespace endpointfix
