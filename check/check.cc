#include "check/check.h"

#include <cstring>

#include "app/run.h"
#include "check/text.h"
#include "endpoints/property_names.h"

namespace endpointfix {
namespace {

// The last level of a path, or null for an unknown path.
const char* last_level(const char* path) {
    const char* last = path;
    for (; path && *path; ++path)
        if (*path == '\\') last = path + 1;
    return last;
}

bool is_root(const char* path) {
    return path && (std::strcmp(path, kCaptureRoot) == 0 || std::strcmp(path, kRenderRoot) == 0);
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

class Check final : public DryRunListener, public RuleWatch {
public:
    Check(const Output& out, const CheckOptions& options) : out_(out), options_(options) {}
    DryRunStore* store = nullptr;

    void opened(KeyHandle key) override { roots_ += is_root(store->path(key)); }

    void listed(KeyHandle key) override { endpoints_ += is_root(store->path(key)); }

    void read(KeyHandle key, const char* name, const StoredValue& found) override {
        unreadable_ += found.outcome > Outcome::kTooLarge;
        last_.keep(key, name, found);
        if (!in_act_) return;
        flush_held();
        held_.keep(key, name, found);
    }

    void write(KeyHandle key, const char* name, const StoredValue& before,
               const PendingWrite& write) override {
        if (held_.is(key, name)) held_.key = KeyHandle{};
        flush_held();
        changes_ += write.change;
        blocked_ += write.change && write.access != Outcome::kDone;
        if (!reg()) return value_line(key, name, before, &write);
        if (write.change) print_reg_change(out_, store->path(key), name, write);
    }

    // Named on a line of its own; in a .reg file, a comment.
    void refused(const char* path, Outcome why, bool listing) override {
        ++unreadable_;
        std::fprintf(out_.file, "%sunreadable: ", reg() ? "; " : "");
        print_escaped(out_, path);
        const char* reason = why == Outcome::kDenied ? "access denied"
                             : why == Outcome::kTooLarge
                                 ? "a subkey's name is too long to list; later subkeys not seen"
                             : why == Outcome::kAbsent ? "not found by the name it is listed by"
                                                       : "cannot be read";
        std::fprintf(out_.file, "%s: %s\n", listing ? " (its subkeys)" : "", reason);
    }

    void acting(PassId pass, KeyHandle endpoint_key, KeyHandle property_key) override {
        ++matched_;
        endpoint_ = endpoint_key;
        if (!reg()) print_endpoint(pass, endpoint_key, property_key);
        in_act_ = true;
    }

    void acted() override {
        flush_held();
        in_act_ = false;
    }

    int finish() {
        const char* program = options_.program;
        if (!reg() && roots_ == 0 && unreadable_ == 0) {
            std::fprintf(out_.file, "%s: no endpoint store here, nothing to change\n", program);
        } else if (!reg()) {
            std::fprintf(out_.file,
                         "%s: %u of %u endpoints matched, %u changes %s, %u blocked, "
                         "%u unreadable%s\n",
                         program, matched_, endpoints_, changes_,
                         options_.applying ? "made" : "pending", blocked_, unreadable_,
                         blocked_ ? kAsSystem : "");
        }
        if (options_.changes) *options_.changes = changes_;
        if (blocked_ || unreadable_) return kBlockedOrUnreadable;
        return changes_ ? kChangesPending : kNothingToChange;
    }

private:
    static constexpr char kAsSystem[] = " (run endpointfix as SYSTEM)";

    bool reg() const { return options_.output == CheckOutput::kRegFile; }

    void print_endpoint(PassId pass, KeyHandle endpoint_key, KeyHandle property_key) {
        std::fprintf(out_.file, pass == PassId::kCapture ? "capture " : "render ");
        print_escaped(out_, last_level(store->path(endpoint_key)));
        // What the test read last is that key's.
        if (last_.is(property_key, kFormFactor)) {
            std::fprintf(out_.file, ", form factor ");
            print_value(out_, kFormFactor, last_.found);
        }
        // The render rule's test reads no description: read it, and it is the last read.
        std::uint8_t text[256];
        std::uint32_t size = sizeof(text);
        if (!last_.is(property_key, kDescription))
            store->read_value(property_key, kDescription, text, size);
        std::fprintf(out_.file, ", description ");
        print_value(out_, kDescription, last_.found);
        std::fprintf(out_.file, "\n");
    }

    // A value the act read and did not write stays as it is.
    void flush_held() {
        if (held_.key.value && !reg()) value_line(held_.key, held_.name, held_.found, nullptr);
        held_.key = KeyHandle{};
    }

    // Named from the endpoint's key: its own values by name, the property key's by that key's
    // name and theirs (the rules write no others).
    void value_line(KeyHandle key, const char* name, const StoredValue& before,
                    const PendingWrite* write) {
        std::FILE* f = out_.file;
        std::fprintf(f, "    ");
        if (!(key == endpoint_)) {
            print_escaped(out_, last_level(store->path(key)));
            std::fprintf(f, "\\");
        }
        std::fprintf(f, "%s: ", name);
        print_value(out_, name, before);
        if (!write || !write->change) {
            std::fprintf(f, ": ok\n");
        } else if (write->access == Outcome::kDone) {
            std::fprintf(f, " -> ");
            print_value(out_, name,
                        {Outcome::kDone, static_cast<std::uint32_t>(write->type), write->size,
                         write->bytes});
            std::fprintf(f, "\n");
        } else {
            std::fprintf(
                f, " -> blocked: %s%s\n",
                write->access == Outcome::kDenied ? "access denied" : "cannot open the key",
                kAsSystem);
        }
    }

    Output out_;
    const CheckOptions& options_;
    std::uint32_t roots_ = 0, endpoints_ = 0, matched_ = 0, changes_ = 0, blocked_ = 0,
                  unreadable_ = 0;
    bool in_act_ = false;
    KeyHandle endpoint_;
    Kept held_{}, last_{};
};

}  // namespace

int run_check(RegistryStore& registry, StoreInspector& inspector, std::FILE* out,
              const CheckOptions& options) {
    Check check({out, options.utf8}, options);
    DryRunStore dry(registry, inspector, check);
    check.store = &dry;
    if (options.output == CheckOutput::kRegFile)
        std::fprintf(out, "Windows Registry Editor Version 5.00\n");
    run(dry, check);
    const int status = check.finish();
    if (std::fflush(out) == 0 && !std::ferror(out)) return status;
    std::fprintf(stderr, "%s: the %s could not be written in full\n", options.program,
                 options.output == CheckOutput::kRegFile ? ".reg file" : "report");
    return kOutputFailed;
}

}  // namespace endpointfix
