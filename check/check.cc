#include "check/check.h"

#include <cstring>

#include "app/run.h"
#include "check/printer.h"
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

// Follows the program's run over a dry run of `registry` of its own, and counts and prints what
// it sees.
class Check final : public DryRunListener, public RuleWatch {
public:
    Check(CheckPrinter& printer, RegistryStore& registry, StoreInspector& inspector)
        : printer_(printer), store_(registry, inspector, *this) {}

    // The program's run sequence over the dry run, told to this check as it goes.
    void run() { endpointfix::run(store_, *this); }

    void opened(KeyHandle key) override { roots_ += is_root(store_.path(key)); }

    void listed(KeyHandle key) override { endpoints_ += is_root(store_.path(key)); }

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
        seen(key, name, before, &write);
    }

    void refused(const char* path, Outcome why, bool listing) override {
        ++unreadable_;
        const char* reason = why == Outcome::kDenied ? "access denied"
                             : why == Outcome::kTooLarge
                                 ? "a subkey's name is too long to list; later subkeys not seen"
                             : why == Outcome::kAbsent ? "not found by the name it is listed by"
                                                       : "cannot be read";
        printer_.unreadable(path, listing, reason);
    }

    void acting(PassId pass, KeyHandle endpoint_key, KeyHandle property_key) override {
        ++matched_;
        endpoint_ = endpoint_key;
        // What the test read last is that key's.
        Kept form_factor{};
        if (last_.is(property_key, kFormFactor))
            form_factor.keep(last_.key, last_.name, last_.found);
        // The render rule's test reads no description: read it, and it is the last read.
        std::uint8_t text[256];
        std::uint32_t size = sizeof(text);
        if (!last_.is(property_key, kDescription))
            store_.read_value(property_key, kDescription, text, size);
        printer_.endpoint({pass, last_level(store_.path(endpoint_key)),
                           form_factor.key.value ? &form_factor.found : nullptr, last_.found});
        in_act_ = true;
    }

    void acted() override {
        flush_held();
        in_act_ = false;
        printer_.endpoint_end();
    }

    // The status with `applying`: changes made are nothing left to do.
    int finish(const CheckOptions& options) {
        int status = blocked_ || unreadable_         ? kBlockedOrUnreadable
                     : changes_ && !options.applying ? kChangesPending
                                                     : kNothingToChange;
        if (options.changes) *options.changes = changes_;
        const bool no_store = roots_ == 0 && unreadable_ == 0;
        if (!printer_.finish(
                {endpoints_, matched_, changes_, blocked_, unreadable_, no_store, status}))
            status = kOutputFailed;
        return status;
    }

private:
    // A value the act read and did not write stays as it is.
    void flush_held() {
        if (held_.key.value) seen(held_.key, held_.name, held_.found, nullptr);
        held_.key = KeyHandle{};
    }

    // Named from the endpoint's key: its own values by name, the property key's by that key's
    // name and theirs (the rules write no others).
    void seen(KeyHandle key, const char* name, const StoredValue& now, const PendingWrite* write) {
        const char* path = store_.path(key);
        printer_.value({path, key == endpoint_ ? nullptr : last_level(path), name, now, write});
    }

    CheckPrinter& printer_;
    DryRunStore store_;  // its listener is this check, which it calls only once run() starts
    std::uint32_t roots_ = 0, endpoints_ = 0, matched_ = 0, changes_ = 0, blocked_ = 0,
                  unreadable_ = 0;
    bool in_act_ = false;
    KeyHandle endpoint_;
    Kept held_{}, last_{};
};

int run_printed(RegistryStore& registry, StoreInspector& inspector, std::FILE* out,
                CheckPrinter& printer, const CheckOptions& options) {
    Check check(printer, registry, inspector);
    printer.begin();
    check.run();
    const int status = check.finish(options);
    if (status != kOutputFailed && std::fflush(out) == 0 && !std::ferror(out)) return status;
    static const char* const kWhat[] = {"report", ".reg file", "JSON document"};
    std::fprintf(stderr, "%s: the %s could not be written in full\n", options.program,
                 kWhat[static_cast<int>(options.output)]);
    return kOutputFailed;
}

}  // namespace

int run_check(RegistryStore& registry, StoreInspector& inspector, std::FILE* out,
              const CheckOptions& options) {
    const Output output{out, options.utf8};
    if (options.output == CheckOutput::kRegFile) {
        RegFilePrinter printer(output);
        return run_printed(registry, inspector, out, printer, options);
    }
    if (options.output == CheckOutput::kJson) {
        JsonPrinter printer(out, options);
        return run_printed(registry, inspector, out, printer, options);
    }
    ReportPrinter printer(output, options);
    return run_printed(registry, inspector, out, printer, options);
}

}  // namespace endpointfix
