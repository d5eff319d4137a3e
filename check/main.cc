// The check program, a console program: shows what endpointfix would change on this machine and
// whether this account may make the changes, and says so in its exit status. Changes nothing.
#include <cstdio>
#include <cstring>

#include "check/check.h"
#include "registry/win32_store.h"

namespace {

constexpr char kHelp[] =
    "usage: endpointfix-check [--reg]: what endpointfix would change (--reg: as a .reg file)\n"
    "Exit status: 0 no change, 1 changes pending, 2 blocked or unreadable, 3 usage\n";

}  // namespace

int main(int argc, char** argv) {
    using namespace endpointfix;
    const char* option = argc > 1 ? argv[1] : "";
    if (argc > 2 || (*option && std::strncmp(option, "--reg", 6) != 0)) {
        const bool help = std::strncmp(option, "--help", 7) == 0;
        std::fprintf(help ? stdout : stderr, "%s", kHelp);
        return help ? 0 : kUsage;
    }
    Win32ReadOnlyStore registry;
    return run_check(registry, registry, stdout,
                     *option ? CheckOutput::kRegFile : CheckOutput::kReport);
}
