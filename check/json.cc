// The check's run as one JSON document (RFC 8259), for programs to read. Its fields are an
// interface (listed in the README): later versions may add fields, never rename or remove one.
// The output is ASCII only, whatever the text it holds, so that any console code page reads it
// the same; like the report it is printed with fprintf alone.
#include <cstdlib>
#include <cstring>

#include "check/printer.h"
#include "registry/code_page.h"

namespace endpointfix {
namespace {

void put_character(std::FILE* f, char32_t c) {
    if (c == '"' || c == '\\') {
        std::fprintf(f, "\\%c", static_cast<char>(c));
    } else if (c >= 0x20 && c < 0x7f) {
        std::fprintf(f, "%c", static_cast<char>(c));
    } else if (c < 0x10000) {
        std::fprintf(f, "\\u%04x", static_cast<unsigned>(c));
    } else {  // a surrogate pair
        c -= 0x10000;
        std::fprintf(f, "\\u%04x\\u%04x", static_cast<unsigned>(0xd800 + (c >> 10)),
                     static_cast<unsigned>(0xdc00 + (c & 0x3ff)));
    }
}

// A JSON string of the text `s`, up to a zero byte or `n` bytes. Registry text is Windows-1252,
// as the ANSI code page of a Western installation; where `utf8`, the text is UTF-8 and a byte
// that is no part of a character in it stands for its Windows-1252 character. Either way every
// byte gives a character, so any text gives a valid string.
void put_text(std::FILE* f, const std::uint8_t* s, std::size_t n, bool utf8 = false) {
    std::fprintf(f, "\"");
    for (std::size_t i = 0, length = 1; i < n && s[i] != 0; i += length) {
        char32_t c = utf8 ? utf8_character(s + i, n - i, length) : kNotUtf8;
        if (c >= 0x110000 || (c >= 0xd800 && c < 0xe000)) {
            c = ansi_to_unicode(s[i]);
            length = 1;
        }
        put_character(f, c);
    }
    std::fprintf(f, "\"");
}

void put_text(std::FILE* f, const char* s, bool utf8 = false) {
    if (s == nullptr) return static_cast<void>(std::fprintf(f, "null"));  // an unknown key
    put_text(f, reinterpret_cast<const std::uint8_t*>(s), std::strlen(s), utf8);
}

// A value: null where absent, its type and content where read, and why not where not.
void put_value(std::FILE* f, const StoredValue& v) {
    // The registry's type names, after REG_, by number.
    // clang-format off
    static const char* const kTypes[] = {"NONE", "SZ", "EXPAND_SZ", "BINARY", "DWORD",
        "DWORD_BIG_ENDIAN", "LINK", "MULTI_SZ", "RESOURCE_LIST", "FULL_RESOURCE_DESCRIPTOR",
        "RESOURCE_REQUIREMENTS_LIST", "QWORD"};
    // clang-format on
    if (v.outcome == Outcome::kAbsent) return static_cast<void>(std::fprintf(f, "null"));
    if (v.outcome > Outcome::kTooLarge) {
        std::fprintf(f, "{\"unread\": \"%s\"}",
                     v.outcome == Outcome::kDenied    ? "access denied"
                     : v.outcome == Outcome::kDamaged ? "damaged"
                                                      : "cannot be read");
        return;
    }
    if (v.type < sizeof(kTypes) / sizeof(*kTypes))
        std::fprintf(f, "{\"type\": \"REG_%s\", ", kTypes[v.type]);
    else
        std::fprintf(f, "{\"type\": %u, ", v.type);
    const std::uint8_t* b = v.bytes;
    if (v.outcome == Outcome::kTooLarge) {
        std::fprintf(f, "\"size\": %u, \"unread\": \"too large to read back\"}", v.size);
    } else if (v.type == 4 && v.size == 4) {
        std::fprintf(f, "\"dword\": %u}",
                     b[0] | b[1] << 8 | b[2] << 16 | static_cast<unsigned>(b[3]) << 24);
    } else if (v.type == 1 || v.type == 2) {
        std::fprintf(f, "\"text\": ");
        put_text(f, b, v.size);
        std::fprintf(f, "}");
    } else {
        std::fprintf(f, "\"hex\": \"");
        for (std::uint32_t i = 0; i < v.size; ++i) std::fprintf(f, "%02x", b[i]);
        std::fprintf(f, "\"}");
    }
}

}  // namespace

void print_json_string(std::FILE* out, const char* text) { put_text(out, text, true); }

// A key that cannot be read, its path kept in the bytes that follow it.
struct JsonPrinter::Unreadable {
    Unreadable* next;
    bool known, listing;
    const char* reason;
    char* path() { return reinterpret_cast<char*>(this + 1); }
};

JsonPrinter::~JsonPrinter() {
    while (Unreadable* gone = first_) {
        first_ = gone->next;
        std::free(gone);
    }
}

void JsonPrinter::begin() {
    std::fprintf(out_, "{\"program\": \"%s\", \"version\": \"%s\", \"source\": ", options_.program,
                 ENDPOINTFIX_VERSION);  // set by the build
    put_text(out_, options_.source, true);
    std::fprintf(out_, ",\n\"endpoints\": [");
}

void JsonPrinter::endpoint(const EndpointSeen& seen) {
    std::fprintf(out_, "%s\n{\"flow\": \"%s\", \"key\": ", endpoints_++ ? "," : "",
                 seen.pass == PassId::kCapture ? "capture" : "render");
    put_text(out_, seen.key);
    if (seen.form_factor) {
        std::fprintf(out_, ", \"form_factor\": ");
        put_value(out_, *seen.form_factor);
    }
    std::fprintf(out_, ", \"description\": ");
    put_value(out_, seen.description);
    std::fprintf(out_, ", \"values\": [");
    in_endpoint_ = true;
    values_ = 0;
}

// The rules read and write within their acts only; anything else has no place here.
void JsonPrinter::value(const ValueSeen& seen) {
    if (!in_endpoint_) return;
    const PendingWrite* write = seen.write && seen.write->change ? seen.write : nullptr;
    std::fprintf(out_, "%s\n  {\"subkey\": ", values_++ ? "," : "");
    put_text(out_, seen.subkey ? seen.subkey : "");
    std::fprintf(out_, ", \"name\": ");
    put_text(out_, seen.name);
    std::fprintf(out_, ", \"now\": ");
    put_value(out_, seen.now);
    if (write) {
        std::fprintf(out_, ", \"new\": ");
        put_value(out_, {Outcome::kDone, static_cast<std::uint32_t>(write->type), write->size,
                         write->bytes});
    }
    const bool blocked = write && write->access != Outcome::kDone;
    const char* state = options_.applying ? "made" : "pending";
    if (!write) state = seen.now.outcome == Outcome::kDamaged ? "damaged" : "ok";
    if (blocked) state = "blocked";
    std::fprintf(out_, ", \"state\": \"%s\"", state);
    if (blocked) std::fprintf(out_, ", \"reason\": \"%s\"", blocked_reason(*write));
    std::fprintf(out_, "}");
}

void JsonPrinter::endpoint_end() {
    if (in_endpoint_) std::fprintf(out_, "]}");
    in_endpoint_ = false;
}

void JsonPrinter::unreadable(const char* path, bool listing, const char* reason) {
    const std::size_t size = path ? std::strlen(path) + 1 : 0;
    auto* kept = static_cast<Unreadable*>(std::malloc(sizeof(Unreadable) + size));
    if (kept == nullptr) return static_cast<void>(lost_ = true);
    *kept = {nullptr, path != nullptr, listing, reason};
    if (path) std::memcpy(kept->path(), path, size);
    (last_ ? last_->next : first_) = kept;
    last_ = kept;
}

bool JsonPrinter::finish(const CheckSummary& s) {
    const char* written = !options_.says_written ? ""
                          : s.changes != 0     ? "\"written\": true,\n"
                                               : "\"written\": false,\n";
    std::fprintf(out_, "%s],\n\"unreadable\": [", endpoints_ ? "\n" : "");
    for (Unreadable* u = first_; u; u = u->next) {
        std::fprintf(out_, "%s\n{\"key\": ", u == first_ ? "" : ",");
        put_text(out_, u->known ? u->path() : nullptr);
        std::fprintf(out_, ", \"reason\": \"%s%s\"}", u->listing ? "its subkeys: " : "", u->reason);
    }
    std::fprintf(out_,
                 "%s],\n\"summary\": {\"endpoints\": %u, \"matched\": %u, \"changes\": %u, "
                 "\"blocked\": %u, \"unreadable\": %u%s},\n%s\"status\": %d}\n",
                 first_ ? "\n" : "", s.endpoints, s.matched, s.changes, s.blocked, s.unreadable,
                 s.no_store ? ", \"no_store\": true" : "", written, s.status);
    return !lost_;
}

}  // namespace endpointfix
