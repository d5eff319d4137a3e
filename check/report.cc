// The report: a block for each endpoint, a line for each key that cannot be read, and the summary.
#include "check/printer.h"
#include "endpoints/property_names.h"

namespace endpointfix {
namespace {

constexpr char kAsSystem[] = " (run endpointfix as SYSTEM)";

}  // namespace

void ReportPrinter::endpoint(const EndpointSeen& seen) {
    std::fprintf(out_.file, seen.pass == PassId::kCapture ? "capture " : "render ");
    print_escaped(out_, seen.key);
    if (seen.form_factor) {
        std::fprintf(out_.file, ", form factor ");
        print_value(out_, kFormFactor, *seen.form_factor);
    }
    std::fprintf(out_.file, ", description ");
    print_value(out_, kDescription, seen.description);
    std::fprintf(out_.file, "\n");
}

void ReportPrinter::value(const ValueSeen& seen) {
    std::FILE* f = out_.file;
    std::fprintf(f, "    ");
    if (seen.subkey) {
        print_escaped(out_, seen.subkey);
        std::fprintf(f, "\\");
    }
    std::fprintf(f, "%s: ", seen.name);
    print_value(out_, seen.name, seen.now);
    const PendingWrite* write = seen.write;
    if (!write || !write->change) {
        std::fprintf(f, seen.now.outcome == Outcome::kDamaged ? ": cannot be changed\n" : ": ok\n");
    } else if (write->access == Outcome::kDone) {
        std::fprintf(f, " -> ");
        print_value(
            out_, seen.name,
            {Outcome::kDone, static_cast<std::uint32_t>(write->type), write->size, write->bytes});
        std::fprintf(f, "\n");
    } else {
        std::fprintf(f, " -> blocked: %s%s\n", blocked_reason(*write), kAsSystem);
    }
}

void print_unreadable(const Output& out, const char* path, bool listing, const char* reason) {
    std::fprintf(out.file, "unreadable: ");
    print_escaped(out, path);
    std::fprintf(out.file, "%s: %s\n", listing ? " (its subkeys)" : "", reason);
}

void ReportPrinter::unreadable(const char* path, bool listing, const char* reason) {
    print_unreadable(out_, path, listing, reason);
}

bool ReportPrinter::finish(const CheckSummary& s) {
    const char* program = options_.program;
    if (s.no_store) {
        std::fprintf(out_.file, "%s: no endpoint store here, nothing to change\n", program);
        return true;
    }
    std::fprintf(out_.file,
                 "%s: %u of %u endpoints matched, %u changes %s, %u blocked, %u unreadable%s\n",
                 program, s.matched, s.endpoints, s.changes, options_.applying ? "made" : "pending",
                 s.blocked, s.unreadable, s.blocked ? kAsSystem : "");
    return true;
}

}  // namespace endpointfix
