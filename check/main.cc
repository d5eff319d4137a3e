// The check program, a console program: shows what endpointfix would change on this machine and
// whether this account may make the changes, and says so in its exit status. Changes nothing.
#include <cstdio>
#include <cstring>

#include "check/check.h"
#include "registry/win32_store.h"
#include "version.h"

namespace {

constexpr char kHelp[] =
    "usage: endpointfix-check [--reg | --json]\n"
    "       endpointfix-check --help | --version\n"
    "What endpointfix would change on this machine, and whether this account may change it.\n"
    "  --reg      the changes as a .reg file\n"
    "  --json     the report as one JSON document (ASCII only)\n"
    "  --help     this help (also -h and /?); --version: the version\n"
    "Exit status: 0 no change, 1 changes pending, 2 blocked or unreadable, 3 usage,\n"
    "4 output not written in full\n";

enum class Ask { kCheck, kUsage, kVersion };

bool is(const char* arg, const char* name) { return std::strcmp(arg, name) == 0; }
bool asks_help(const char* arg) { return is(arg, "--help") || is(arg, "-h") || is(arg, "/?"); }

// Says in one line what was wrong with the command line, then the usage, and returns false.
bool usage_error(const char* lead, const char* what, const char* tail) {
    std::fprintf(stderr, "endpointfix-check: %s%s%s\n%s", lead, what, tail, kHelp);
    return false;
}

// Reads the command line: --reg or --json, or a help or version option, each alone; a last "--"
// ends the options, and nothing may follow it. Returns false for a usage error.
bool parse(int argc, char** argv, Ask& ask, endpointfix::CheckOutput& output) {
    if (argc > 1 && is(argv[argc - 1], "--")) --argc;
    const char* given = nullptr;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        const bool help = asks_help(arg), version = is(arg, "--version");
        const bool reg = is(arg, "--reg"), json = is(arg, "--json");
        if (is(arg, "--")) return usage_error("nothing may follow ", arg, "");
        if (!help && !version && !reg && !json)
            return usage_error(
                *arg == '-' || *arg == '/' ? "unknown option " : "unexpected argument ", arg, "");
        if (given != nullptr) {
            if (is(given, arg)) return usage_error("", arg, " given twice");
            if (asks_help(given) || is(given, "--version"))
                return usage_error("", given, " goes alone");
            if (help || version) return usage_error("", arg, " goes alone");
            return usage_error("--json does not go with --reg", "", "");
        }
        given = arg;
        ask = help ? Ask::kUsage : version ? Ask::kVersion : Ask::kCheck;
        if (reg || json)
            output = reg ? endpointfix::CheckOutput::kRegFile : endpointfix::CheckOutput::kJson;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace endpointfix;
    Ask ask = Ask::kCheck;
    CheckOptions options;
    if (!parse(argc, argv, ask, options.output)) return kUsage;
    if (ask != Ask::kCheck) {
        std::fprintf(stdout, "%s",
                     ask == Ask::kUsage ? kHelp : "endpointfix-check " ENDPOINTFIX_VERSION "\n");
        return std::fflush(stdout) == 0 ? 0 : kOutputFailed;
    }
    Win32ReadOnlyStore registry;
    return run_check(registry, registry, stdout, options);
}
