// The check program, a console program: shows what endpointfix would change on this machine and
// whether this account may make the changes, and says so in its exit status. Changes nothing.
#include <cstdio>
#include <cstring>

#include "check/check.h"
#include "registry/win32_store.h"

namespace {

constexpr char kHelp[] =
    "usage: endpointfix-check [--reg | --json]: what endpointfix would change\n"
    "  --reg   as a .reg file\n"
    "  --json  as one JSON document (ASCII only; its fields are listed in the README)\n"
    "Exit status: 0 no change, 1 changes pending, 2 blocked or unreadable, 3 usage,\n"
    "4 output not written in full\n";

}  // namespace

int main(int argc, char** argv) {
    using namespace endpointfix;
    // "--" ends the options; the check takes nothing after them, so it may only stand last.
    if (argc > 1 && std::strcmp(argv[argc - 1], "--") == 0) --argc;
    const char* option = argc > 1 ? argv[1] : "";
    const bool help = std::strcmp(option, "--help") == 0 || std::strcmp(option, "/?") == 0;
    if (help && argc == 2) {
        std::fprintf(stdout, "%s", kHelp);
        return std::fflush(stdout) == 0 ? 0 : kOutputFailed;
    }
    const bool reg = std::strcmp(option, "--reg") == 0, json = std::strcmp(option, "--json") == 0;
    if (argc > 2 || (*option && !reg && !json)) {
        std::fprintf(stderr, "%s", kHelp);
        return kUsage;
    }
    CheckOptions options;
    if (reg) options.output = CheckOutput::kRegFile;
    if (json) options.output = CheckOutput::kJson;
    Win32ReadOnlyStore registry;
    return run_check(registry, registry, stdout, options);
}
