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
        if (write.change) print_reg_change(out, store->path(key), name, write);
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
            std::fprintf(out,
                         "endpointfix-check: %u of %u endpoints matched, %u changes pending, "
                         "%u blocked, %u unreadable%s\n",
                         matched, endpoints, changes, blocked, unreadable,
                         blocked ? kAsSystem : "");
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
            print_value(out, name,
                        {Outcome::kDone, static_cast<std::uint32_t>(write->type), write->size,
                         write->bytes});
            std::fprintf(out, "\n");
        } else {
            std::fprintf(
                out, " -> blocked: %s%s\n",
                write->access == Outcome::kDenied ? "access denied" : "cannot open the key",
                kAsSystem);
        }
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
