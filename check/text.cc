#include "check/text.h"

#include <cstring>

#include "endpoints/property_names.h"

namespace endpointfix {

// Output goes through fprintf alone, which the runtime has already, so that the program imports
// no more of it than it must.
void print_escaped(std::FILE* out, const std::uint8_t* s, std::size_t n) {
    for (std::size_t i = 0; i < n && s[i] != 0; ++i) {
        const std::uint8_t c = s[i];
        std::fprintf(out, c < 0x20 || c == 0x7f || (c >= 0x80 && c <= 0x9f) ? "\\x%02x" : "%c", c);
    }
}

void print_escaped(std::FILE* out, const char* s) {
    if (s == nullptr) s = "(unknown key)";
    print_escaped(out, reinterpret_cast<const std::uint8_t*>(s), std::strlen(s));
}

void print_value(std::FILE* out, const char* name, const StoredValue& v) {
    static const char* const kUnread[] = {"", "absent", "%u bytes, too large to read back",
                                          "unreadable (access denied)", "unreadable"};
    static const char* const kFlags[] = {"active", "disabled", "not present", "unplugged"};
    const std::uint8_t* b = v.bytes;
    if (v.outcome != Outcome::kDone) {
        std::fprintf(out, kUnread[static_cast<int>(v.outcome)], v.size);
    } else if (v.type == 4 && v.size == 4) {
        const std::uint32_t n = b[0] | b[1] << 8 | b[2] << 16 | std::uint32_t{b[3]} << 24;
        std::fprintf(out, "0x%08x", n);
        if (name != kDeviceState) return;
        // Bits without a name show in the number alone.
        const char* sep = " (";
        for (int bit = 0; bit < 4; ++bit) {
            if ((n >> bit & 1) == 0) continue;
            std::fprintf(out, "%s%s", sep, kFlags[bit]);
            sep = ", ";
        }
        if (n & 0xf) std::fprintf(out, ")");
    } else if ((v.type == 1 || v.type == 2) && v.size != 0) {
        std::fprintf(out, "\"");
        print_escaped(out, b, v.size);
        std::fprintf(out, "\"");
    } else {
        std::fprintf(out, "%u bytes:", v.size);
        for (std::uint32_t i = 0; i < v.size && i < 8; ++i) std::fprintf(out, " %02x", b[i]);
    }
}

}  // namespace endpointfix
