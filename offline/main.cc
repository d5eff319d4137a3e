// endpointfix-offline: the check, and the run itself, over the SOFTWARE hive file of a Windows
// installation that is not running, from Linux. The same run sequence, walk, rules and report
// as on Windows, over HiveStore; what is different here is the care a hive file needs.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>

#include "app/run.h"
#include "check/check.h"
#include "offline/hive_file.h"
#include "offline/replace.h"
#include "registry/hive_store.h"

namespace {

using namespace endpointfix;
using offline::HiveFileState;

constexpr char kProgram[] = "endpointfix-offline";
constexpr char kHelp[] =
    "usage: endpointfix-offline [--reg | --apply [--backup]] HIVE\n"
    "  HIVE       a SOFTWARE hive file (Windows/System32/config/SOFTWARE)\n"
    "  (none)     report what a run of endpointfix would change in it\n"
    "  --reg      print those changes as a .reg file\n"
    "  --apply    make them, replacing the file whole; --backup keeps it as HIVE.bak\n"
    "Exit status: 0 nothing to change (or changed), 1 changes pending, 2 the hive cannot be\n"
    "serviced (or part of it read), 3 usage, 4 output not written in full\n";

int refuse(const std::string& hive, const std::string& why) {
    std::fprintf(stderr, "%s: %s: %s\n", kProgram, hive.c_str(), why.c_str());
    return kBlockedOrUnreadable;
}

std::string dirty_advice(const std::string& hive) {
    std::string logs;
    for (const auto& log : offline::transaction_logs(hive))
        logs += (logs.empty() ? "" : ", ") + log;
    return "is dirty: recent changes wait in its transaction logs (" +
           (logs.empty() ? std::string("none found beside it") : logs) +
           "); start that Windows and shut it down fully (not Fast Startup), or replay the logs "
           "with a tool that does, then run again";
}

// Why libhivex could not open a file that looked like a hive.
std::string not_a_hive() {
    return std::string("cannot be read as a hive: ") + std::strerror(errno);
}

// A path libhivex opens to reach the very file open at `fd`, whatever is renamed meanwhile.
std::string fd_path(int fd) { return "/proc/self/fd/" + std::to_string(fd); }

int print_report(const std::string& hive, CheckOutput output) {
    const int fd = open(hive.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return refuse(hive, std::string("cannot open: ") + std::strerror(errno));
    const HiveFileState state = offline::inspect_hive_file(fd);
    if (!state.damage.empty()) return refuse(hive, state.damage);
    const auto store = HiveStore::open_file(fd_path(fd).c_str(), false);
    if (!store) return refuse(hive, not_a_hive());
    if (state.dirty)
        refuse(hive,
               "is dirty: its transaction logs hold newer changes, so what follows may be stale");
    CheckOptions options{output, kProgram, true};
    const int status = run_check(*store, *store, stdout, options);
    return state.dirty && status != kOutputFailed ? kBlockedOrUnreadable : status;
}

int apply_changes(const std::string& hive, bool backup) {
    const int fd = open(hive.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0)
        return refuse(hive, std::string("cannot open for writing: ") + std::strerror(errno));
    // The lock is on the file itself, so that it leaves nothing behind; a file renamed over
    // the hive while this run waited for it is another file.
    struct stat held, named;
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) return refuse(hive, "another run is changing it");
    if (fstat(fd, &held) != 0 || stat(hive.c_str(), &named) != 0 || held.st_ino != named.st_ino ||
        held.st_dev != named.st_dev)
        return refuse(hive, "was replaced while this run opened it; run again");
    const HiveFileState state = offline::inspect_hive_file(fd);
    if (!state.damage.empty()) return refuse(hive, state.damage);
    if (state.dirty) return refuse(hive, dirty_advice(hive));
    // Read first, as it is: libhivex opens a hive for writing by copying it whole into memory,
    // which a hive with nothing to change is spared.
    auto store = HiveStore::open_file(fd_path(fd).c_str(), false);
    if (!store) return refuse(hive, not_a_hive());

    // The report is the check's over the hive as it is; printed once the changes are made.
    std::FILE* held_report = std::tmpfile();
    if (held_report == nullptr) return refuse(hive, "cannot hold the report: no temporary file");
    std::uint32_t changes = 0;
    CheckOptions options{CheckOutput::kReport, kProgram, true, true, &changes};
    const int status = run_check(*store, *store, held_report, options);
    if (status == kOutputFailed) return refuse(hive, "cannot hold the report");
    if (changes != 0) {
        store = HiveStore::open_file(fd_path(fd).c_str(), true);
        if (!store) return refuse(hive, not_a_hive());
        run(*store);
        const std::string why = offline::replace_file(
            hive, backup, [&](const char* temp) { return store->commit(temp); },
            [&](int written) {
                const HiveFileState now = offline::inspect_hive_file(written);
                return !now.damage.empty() ? "the new hive " + now.damage
                       : now.dirty || now.sequence != state.sequence + 1
                           ? std::string("the new hive has unexpected sequence numbers")
                           : std::string();
            });
        if (!why.empty()) return refuse(hive, why);
    }
    std::rewind(held_report);
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof(buffer), held_report)) > 0;)
        std::fwrite(buffer, 1, n, stdout);
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        std::fprintf(stderr, "%s: the report could not be written in full\n", kProgram);
        return kOutputFailed;
    }
    return status == kBlockedOrUnreadable ? status : 0;
}

}  // namespace

int main(int argc, char** argv) {
    // A closed pipe is an output failure, told by the status, not a reason to die half way.
    std::signal(SIGPIPE, SIG_IGN);
    bool reg = false, do_apply = false, backup = false, help = false;
    std::string hive;
    int files = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--reg")
            reg = true;
        else if (arg == "--apply")
            do_apply = true;
        else if (arg == "--backup")
            backup = true;
        else if (arg == "--help" || arg == "-h")
            help = true;
        else if (arg.empty() || arg[0] == '-')
            files = 99;
        else
            hive = arg, ++files;
    }
    if (help && argc == 2) {
        std::fputs(kHelp, stdout);
        return std::fflush(stdout) == 0 ? 0 : kOutputFailed;
    }
    if (help || files != 1 || (reg && do_apply) || (backup && !do_apply)) {
        std::fputs(kHelp, stderr);
        return kUsage;
    }
    if (do_apply) return apply_changes(hive, backup);
    return print_report(hive, reg ? CheckOutput::kRegFile : CheckOutput::kReport);
}
