#include "check/check.h"

#include <cstring>

#include "app/run.h"
#include "check/text.h"
#include "endpoints/property_names.h"
#include "registry/dry_run_store.h"

namespace endpointfix {
namespace {

// Paths are shorter than a path buffer. (strncmp, not strcmp: the program imports one string
// comparison fewer.)
bool same(const char* a, const char* b) {
    return std::strncmp(a, b, DryRunStore::kPathBuffer) == 0;
}

// The last level of a path, or null for an unknown path.
const char* last_level(const char* path) {
    const char* last = path;
    for (; path && *path; ++path)
        if (*path == '\\') last = path + 1;
    return last;
}

// The .reg format escapes backslashes and quotes in value names; the run's names have neither.
constexpr bool plain_in_reg_file(const char* name) {
    for (; *name; ++name)
        if (*name == '\\' || *name == '"' || static_cast<unsigned char>(*name) < 0x20) return false;
    return true;
}
static_assert(plain_in_reg_file(kDeviceState) && plain_in_reg_file(kFormat) &&
              plain_in_reg_file(kEightByte));

bool has_control(const char* s) {
    for (; *s; ++s)
        if (static_cast<std::uint8_t>(*s) < 0x20 || *s == 0x7f) return true;
    return false;
}

// A value a read found, kept past the read. Value names are the run's own constants, which
// need no escaping, outlive the run and are told apart by address.
struct Kept {
    KeyHandle key;  // 0: nothing kept
    const char* name;
    StoredValue found;
    std::uint8_t bytes[DryRunStore::kValueBuffer];

    void keep(KeyHandle at, const char* value_name, const StoredValue& v) {
        key = at;
        name = value_name;
        found = v;
        if (v.bytes) found.bytes = static_cast<std::uint8_t*>(std::memcpy(bytes, v.bytes, v.size));
    }
    bool is(KeyHandle at, const char* value_name) const {
        return key == at && name == value_name;  // `at` is an open key, never 0
    }
};

// Zero-initialised by its user; `out`, `reg` and `store` are set before the run.
class Check final : public DryRunListener, public RuleWatch {
public:
    std::FILE* out;
    bool reg;
    DryRunStore* store;
    std::uint32_t endpoints, matched, changes, blocked, unreadable;

    void listed(KeyHandle key) override {
        const char* at = store->path(key);
        endpoints += at && (same(at, kCaptureRoot) || same(at, kRenderRoot));
    }

    void read(KeyHandle key, const char* name, const StoredValue& found) override {
        unreadable += found.outcome > Outcome::kTooLarge;
        last_.keep(key, name, found);
        if (!in_act_) return;
        flush_held();
        held_.keep(key, name, found);
    }

    void write(KeyHandle key, const char* name, const StoredValue& before,
               const PendingWrite& write) override {
        if (held_.is(key, name)) held_.key = KeyHandle{};
        flush_held();
        changes += write.change;
        blocked += write.change && write.access != Outcome::kDone;
        if (!reg) return value_line(key, name, before, &write);
        if (write.change) reg_line(store->path(key), name, write);
    }

    void refused(const char*, Outcome) override { ++unreadable; }

    void acting(PassId pass, KeyHandle endpoint_key, KeyHandle property_key) override {
        ++matched;
        endpoint_ = endpoint_key;
        if (!reg) {
            std::fprintf(out, pass == PassId::kCapture ? "capture " : "render ");
            print_escaped(out, last_level(store->path(endpoint_key)));
            // What the test read last is that key's.
            if (last_.is(property_key, kFormFactor)) {
                std::fprintf(out, ", form factor ");
                print_value(out, kFormFactor, last_.found);
            }
            // The render rule's test reads no description: read it, and it is the last read.
            std::uint8_t text[256];
            std::uint32_t size = sizeof(text);
            if (!last_.is(property_key, kDescription))
                store->read_value(property_key, kDescription, text, size);
            std::fprintf(out, ", description ");
            print_value(out, kDescription, last_.found);
            std::fprintf(out, "\n");
        }
        in_act_ = true;
    }

    void acted() override {
        flush_held();
        in_act_ = false;
    }

    int finish() {
        if (!reg) {
            std::fprintf(out, "endpointfix-check: %u of %u endpoints matched, %u changes pending, "
                         "%u blocked, %u unreadable%s\n", matched, endpoints, changes, blocked,
                         unreadable, blocked ? kAsSystem : "");
        }
        if (blocked || unreadable) return kBlockedOrUnreadable;
        return changes ? kChangesPending : kNothingToChange;
    }

private:
    static constexpr char kAsSystem[] = " (run endpointfix as SYSTEM)";

    // A value the act read and did not write stays as it is.
    void flush_held() {
        if (held_.key.value && !reg) value_line(held_.key, held_.name, held_.found, nullptr);
        held_.key = KeyHandle{};
    }

    // Named from the endpoint's key: its own values by name, the property key's by that key's
    // name and theirs (the rules write no others).
    void value_line(KeyHandle key, const char* name, const StoredValue& before,
                    const PendingWrite* write) {
        std::fprintf(out, "    ");
        if (!(key == endpoint_)) {
            print_escaped(out, last_level(store->path(key)));
            std::fprintf(out, "\\");
        }
        std::fprintf(out, "%s: ", name);
        print_value(out, name, before);
        if (!write || !write->change) {
            std::fprintf(out, ": ok\n");
        } else if (write->access == Outcome::kDone) {
            std::fprintf(out, " -> ");
            print_value(out, name, {Outcome::kDone, static_cast<std::uint32_t>(write->type),
                                    write->size, write->bytes});
            std::fprintf(out, "\n");
        } else {
            std::fprintf(out, " -> blocked: %s%s\n",
                         write->access == Outcome::kDenied ? "access denied" : "cannot open the key",
                         kAsSystem);
        }
    }

    // A line break in a key's name would let the registry's text add lines of its own to a
    // file that is meant to be imported: such a change is named in a comment instead.
    void reg_line(const char* path, const char* name, const PendingWrite& write) {
        if (!path || has_control(path)) {
            std::fprintf(out, "; left out, control characters in its key: ");
            print_escaped(out, path);
            std::fprintf(out, "\\%s\n", name);
            return;
        }
        std::fprintf(out, "\n[HKEY_LOCAL_MACHINE\\%s]\n\"%s\"=", path, name);
        const auto type = static_cast<std::uint32_t>(write.type);
        const std::uint8_t* b = write.bytes;
        if (type == 4 && write.size == 4) {
            std::fprintf(out, "dword:%02x%02x%02x%02x\n", b[3], b[2], b[1], b[0]);
            return;
        }
        std::fprintf(out, type == 3 ? "hex:" : "hex(%x):", type);
        for (std::uint32_t i = 0; i < write.size; ++i) std::fprintf(out, i ? ",%02x" : "%02x", b[i]);
        std::fprintf(out, "\n");
    }

    bool in_act_;
    KeyHandle endpoint_;
    Kept held_, last_;
};

}  // namespace

int run_check(RegistryStore& registry, StoreInspector& inspector, std::FILE* out,
              CheckOutput output) {
    Check check{};
    check.out = out;
    check.reg = output == CheckOutput::kRegFile;
    DryRunStore dry(registry, inspector, check);
    check.store = &dry;
    if (check.reg) std::fprintf(out, "Windows Registry Editor Version 5.00\n");
    run(dry, check);
    return check.finish();
}

}  // namespace endpointfix
