// How registry contents are printed: escaped where they are text, decoded where that helps.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "registry/dry_run_store.h"

namespace endpointfix {

// Where the check prints. Registry text is 8-bit ANSI text (Windows-1252 where it comes from a
// hive file); `utf8` prints its letters as UTF-8, for a terminal that reads UTF-8.
struct Output {
    std::FILE* file;
    bool utf8;
};

// Whether a character is a control: below 0x20, 0x7f, or 0x80 to 0x9f (C1 controls on a
// terminal that reads ISO 8859 or UTF-8).
bool is_control(std::uint8_t c);
// Whether a byte of registry text would reach `out` as a control: in UTF-8 where its
// Windows-1252 character is one (the five bytes the code page leaves undefined among them), as it
// stands where it is below 0x20, 0x7f, or 0x80 to 0x9f, which the console's code page may read as
// controls. has_control: whether text holds such a byte.
bool is_control(const Output& out, std::uint8_t c);
bool has_control(const Output& out, const char* s);

// Prints registry text, which is untrusted: every control byte as \xHH, so that it cannot move
// the cursor, clear the screen or start a line of its own. Other bytes stand as they are, or as
// their Windows-1252 characters in UTF-8. Stops at a zero byte or after `n` bytes; a null text is
// an unknown key.
void print_escaped(const Output& out, const std::uint8_t* s, std::size_t n);
void print_escaped(const Output& out, const char* s);

// Prints a value: absent or why it cannot be read, a DWORD in hex (DeviceState with its flags
// named, form factor 3 as headphones), quoted text, or the size and first eight bytes of
// anything else.
void print_value(const Output& out, const char* name, const StoredValue& v);

}  // namespace endpointfix
