// How registry contents are printed: escaped where they are text, decoded where that helps.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "registry/dry_run_store.h"

namespace endpointfix {

// Prints registry text, which is untrusted: every control byte (below 0x20, 0x7f, and 0x80 to
// 0x9f) as \xHH, so that it cannot move the cursor, clear the screen or start a line of its
// own. Other bytes stand as they are. Stops at a zero byte or after `n` bytes; a null text is
// an unknown key.
void print_escaped(std::FILE* out, const std::uint8_t* s, std::size_t n);
void print_escaped(std::FILE* out, const char* s);

// Prints a value: absent or why it cannot be read, a DWORD in hex (DeviceState with its flags
// named), quoted text, or the size and first eight bytes of anything else.
void print_value(std::FILE* out, const char* name, const StoredValue& v);

// Prints a pending write of value `name` (one of the run's constants) of the key at `path`
// (below HKEY_LOCAL_MACHINE, or null where unknown) as a .reg file's key and value lines.
void print_reg_change(std::FILE* out, const char* path, const char* name,
                      const PendingWrite& write);

}  // namespace endpointfix
