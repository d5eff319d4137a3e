#include "check/text.h"

#include <cstring>

#include "endpoints/property_names.h"
#include "registry/code_page.h"

namespace endpointfix {

bool is_control(std::uint8_t c) { return c < 0x20 || c == 0x7f || (c >= 0x80 && c <= 0x9f); }

// In UTF-8 a byte stands for its Windows-1252 character, a control only where the code page
// leaves it undefined; as it stands, the console's code page reads it, and 0x80 to 0x9f may be
// C1 controls there.
bool is_control(const Output& out, std::uint8_t c) {
    const char32_t shown = out.utf8 ? ansi_to_unicode(c) : c;
    return shown < 0xa0 && is_control(static_cast<std::uint8_t>(shown));
}

bool has_control(const Output& out, const char* s) {
    for (; *s; ++s)
        if (is_control(out, static_cast<std::uint8_t>(*s))) return true;
    return false;
}

// Output goes through fprintf alone, which the runtime has already, so that the program imports
// no more of it than it must.
void print_escaped(const Output& out, const std::uint8_t* s, std::size_t n) {
    std::FILE* f = out.file;
    for (std::size_t i = 0; i < n && s[i] != 0; ++i) {
        const std::uint8_t c = s[i];
        const char32_t u = ansi_to_unicode(c);  // below 0x10000
        if (is_control(out, c))
            std::fprintf(f, "\\x%02x", c);
        else if (c < 0x80 || !out.utf8)
            std::fprintf(f, "%c", c);
        else if (u < 0x800)
            std::fprintf(f, "%c%c", 0xc0 | u >> 6, 0x80 | (u & 0x3f));
        else
            std::fprintf(f, "%c%c%c", 0xe0 | u >> 12, 0x80 | (u >> 6 & 0x3f), 0x80 | (u & 0x3f));
    }
}

void print_escaped(const Output& out, const char* s) {
    if (s == nullptr) s = "(unknown key)";
    print_escaped(out, reinterpret_cast<const std::uint8_t*>(s), std::strlen(s));
}

void print_value(const Output& out, const char* name, const StoredValue& v) {
    static const char* const kUnread[] = {"",
                                          "absent",
                                          "%u bytes, too large to read back",
                                          "unreadable (access denied)",
                                          "unreadable",
                                          "unreadable (damaged)"};
    static const char* const kFlags[] = {"active", "disabled", "not present", "unplugged"};
    std::FILE* f = out.file;
    const std::uint8_t* b = v.bytes;
    if (v.outcome != Outcome::kDone) {
        std::fprintf(f, kUnread[static_cast<int>(v.outcome)], v.size);
    } else if (v.type == 4 && v.size == 4) {
        const std::uint32_t n = b[0] | b[1] << 8 | b[2] << 16 | std::uint32_t{b[3]} << 24;
        std::fprintf(f, "0x%08x", n);
        if (name == kFormFactor && n == 3) std::fprintf(f, " (headphones)");
        if (name != kDeviceState) return;
        // Bits without a name show in the number alone.
        const char* sep = " (";
        for (int bit = 0; bit < 4; ++bit) {
            if ((n >> bit & 1) == 0) continue;
            std::fprintf(f, "%s%s", sep, kFlags[bit]);
            sep = ", ";
        }
        if (n & 0xf) std::fprintf(f, ")");
    } else if ((v.type == 1 || v.type == 2) && v.size != 0) {
        std::fprintf(f, "\"");
        print_escaped(out, b, v.size);
        std::fprintf(f, "\"");
    } else {
        std::fprintf(f, v.size ? "%u bytes:" : "%u bytes", v.size);
        for (std::uint32_t i = 0; i < v.size && i < 8; ++i) std::fprintf(f, " %02x", b[i]);
    }
}

}  // namespace endpointfix
