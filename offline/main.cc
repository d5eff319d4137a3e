// endpointfix-offline: the check, and the run itself, over the SOFTWARE hive file of a Windows
// installation that is not running, from Linux. The same run sequence, walk, rules and report
// as on Windows, over HiveStore; what is different here is the care a hive file needs.
#include <csignal>
#include <cstdio>
#include <string>

#include "offline/image_launch.h"
#include "offline/options.h"
#include "offline/service.h"
#include "offline/std_streams.h"

namespace {

constexpr char kHelp[] =
    "usage: endpointfix-offline [--json] [--apply [--backup]] WHERE\n"
    "       endpointfix-offline --reg WHERE\n"
    "       endpointfix-offline --recover OUT WHERE\n"
    "       endpointfix-offline --help | --version\n"
    "WHERE is [--] HIVE, or --image IMAGE [--root DEVICE]\n"
    "  HIVE       a SOFTWARE hive file (Windows/System32/config/SOFTWARE); where it is a\n"
    "             symbolic link, the file it names is serviced. A dirty hive is read as\n"
    "             Windows loads it, with the transaction logs beside it (HIVE.LOG1, .LOG2)\n"
    "             replayed; they are never changed\n"
    "  (none)     report what a run of endpointfix would change in it\n"
    "  --reg      print those changes as a .reg file\n"
    "  --apply    make them, replacing the file whole with a clean hive; --backup keeps it\n"
    "             as HIVE.bak, and refuses where HIVE.bak exists already\n"
    "  --recover  write the hive as Windows would load it, logs replayed, to the new file\n"
    "             OUT (any hive: SOFTWARE, SYSTEM, NTUSER.DAT); changes nothing else\n"
    "  --json     the report (of --apply too) as one JSON document\n"
    "  --image    the same on the SOFTWARE hive inside the disk image IMAGE (with the package\n"
    "             endpointfix-offline-image); --root picks the installation on DEVICE\n"
    "Exit status: 0 nothing to change (or changed), 1 changes pending, 2 the hive cannot be\n"
    "serviced (or part of it read), 3 usage, 4 output not written in full (with --apply,\n"
    "after the changes were made). More in endpointfix-offline(1).\n";

}  // namespace

int main(int argc, char** argv) {
    using namespace endpointfix;
    if (!offline::open_standard_streams()) return kBlockedOrUnreadable;
    // A closed pipe is an output failure, told by the status, not a reason to die half way.
    std::signal(SIGPIPE, SIG_IGN);
    offline::Options options;
    if (const std::string error = offline::parse_options(argc, argv, options); !error.empty()) {
        std::fprintf(stderr, "endpointfix-offline: %s\n%s", error.c_str(), kHelp);
        return kUsage;
    }
    if (options.help || options.version) {
        if (options.help) std::fputs(kHelp, stdout);
        if (options.version) std::puts("endpointfix-offline " ENDPOINTFIX_VERSION);
        return std::fflush(stdout) == 0 ? 0 : kOutputFailed;
    }
    if (!options.image.empty()) return offline::start_image_helper(argv);
    const offline::HivePath hive = offline::resolve_hive_path(options.hive);
    const CheckOutput report = options.json ? CheckOutput::kJson : CheckOutput::kReport;
    switch (options.mode) {
        case offline::Mode::kApply:
            return offline::apply_changes(hive, options.backup, report);
        case offline::Mode::kRegFile:
            return offline::print_report(hive, CheckOutput::kRegFile);
        case offline::Mode::kRecover:
            return offline::recover_hive(hive, options.out);
        case offline::Mode::kReport:
            break;
    }
    return offline::print_report(hive, report);
}
