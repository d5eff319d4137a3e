// The check program, a console program: shows what endpointfix would change on this machine and
// whether this account may make the changes, and says so in its exit status. Changes nothing.
#include <cstdio>
#include <cstring>

#include "check/check.h"
#include "registry/win32_store.h"

namespace {

constexpr char kHelp[] =
    "usage: endpointfix-check [--reg]: what endpointfix would change (--reg: as a .reg file)\n"
    "Exit status: 0 no change, 1 changes pending, 2 blocked or unreadable, 3 usage,\n"
    "4 output not written in full\n";

}  // namespace

int main(int argc, char** argv) {
    using namespace endpointfix;
    const char* option = argc > 1 ? argv[1] : "";
    const bool help = std::strcmp(option, "--help") == 0 || std::strcmp(option, "/?") == 0;
    if (help && argc == 2) {
        std::fprintf(stdout, "%s", kHelp);
        return std::fflush(stdout) == 0 ? 0 : kOutputFailed;
    }
    if (argc > 2 || (*option && std::strcmp(option, "--reg") != 0)) {
        std::fprintf(stderr, "%s", kHelp);
        return kUsage;
    }
    CheckOptions options;
    if (*option) options.output = CheckOutput::kRegFile;
    Win32ReadOnlyStore registry;
    return run_check(registry, registry, stdout, options);
}
