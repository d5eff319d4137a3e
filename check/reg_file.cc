#include <cstdint>
#include <cstring>

#include "check/printer.h"
#include "endpoints/property_names.h"

namespace endpointfix {
namespace {

// The .reg format escapes backslashes and quotes in value names; the run's names have neither.
constexpr bool plain_in_reg_file(const char* name) {
    for (; *name; ++name)
        if (*name == '\\' || *name == '"' || static_cast<unsigned char>(*name) < 0x20) return false;
    return true;
}
static_assert(plain_in_reg_file(kDeviceState) && plain_in_reg_file(kFormat) &&
              plain_in_reg_file(kEightByte));

// A line break in a key's name would let the registry's text add lines of its own to a file that
// is meant to be imported: such a change is named in a comment instead. The key's section line
// comes first where `new_section`.
void print_reg_change(const Output& out, const char* path, bool new_section, const char* name,
                      const PendingWrite& write) {
    std::FILE* f = out.file;
    if (!path || has_control(out, path)) {
        std::fprintf(f, "; left out, control characters in its key: ");
        print_escaped(out, path);
        std::fprintf(f, "\\%s\n", name);
        return;
    }
    if (new_section) {
        std::fprintf(f, "\n[HKEY_LOCAL_MACHINE\\");
        print_escaped(out, path);  // no control bytes: as it stands, or in UTF-8
        std::fprintf(f, "]\n");
    }
    std::fprintf(f, "\"%s\"=", name);
    const auto type = static_cast<std::uint32_t>(write.type);
    const std::uint8_t* b = write.bytes;
    if (type == 4 && write.size == 4) {
        std::fprintf(f, "dword:%02x%02x%02x%02x\n", b[3], b[2], b[1], b[0]);
        return;
    }
    std::fprintf(f, type == 3 ? "hex:" : "hex(%x):", type);
    for (std::uint32_t i = 0; i < write.size; ++i) std::fprintf(f, i ? ",%02x" : "%02x", b[i]);
    std::fprintf(f, "\n");
}

}  // namespace

void RegFilePrinter::begin() { std::fprintf(out_.file, "Windows Registry Editor Version 5.00\n"); }

// A key's values come one after another (the run writes a key's values before the next key's),
// so one section holds them all where each value is compared with the last section's key.
void RegFilePrinter::value(const ValueSeen& seen) {
    if (!seen.write || !seen.write->change) return;
    const bool same = in_section_ && seen.path && std::strcmp(seen.path, section_) == 0;
    print_reg_change(out_, seen.path, !same, seen.name, *seen.write);
    in_section_ = seen.path && std::strlen(seen.path) < sizeof(section_);
    if (in_section_) std::memcpy(section_, seen.path, std::strlen(seen.path) + 1);
}

// The report's line, as a comment.
void RegFilePrinter::unreadable(const char* path, bool listing, const char* reason) {
    std::fprintf(out_.file, "; ");
    print_unreadable(out_, path, listing, reason);
}

}  // namespace endpointfix
