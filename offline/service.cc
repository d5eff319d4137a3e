#include "offline/service.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "app/run.h"
#include "offline/replace.h"
#include "registry/hive_store.h"

namespace endpointfix::offline {
namespace {

constexpr char kProgram[] = "endpointfix-offline";

int refuse(const HivePath& hive, const std::string& why) {
    std::fprintf(stderr, "%s: %s: %s\n", kProgram, hive.label().c_str(), why.c_str());
    return kBlockedOrUnreadable;
}

std::string dirty_advice(const HivePath& hive) {
    std::string logs;
    for (const auto& log : transaction_logs(hive.file)) logs += (logs.empty() ? "" : ", ") + log;
    return "is dirty: recent changes wait in its transaction logs (" +
           (logs.empty() ? std::string("none found beside it") : logs) +
           "); start that Windows and shut it down fully (not Fast Startup), or replay the logs "
           "with a tool that does, then run again";
}

// Why libhivex could not open a file whose base block and first bin are sound: it found the
// cells behind them damaged (it says so as "not supported" or "invalid"), or something else.
std::string not_a_hive() {
    const int error = errno;
    const bool damaged = error == ENOTSUP || error == EINVAL || error == ERANGE || error == EFAULT;
    return std::string(damaged ? "its cells are damaged, so it cannot be read as a hive"
                               : "cannot be read as a hive") +
           " (libhivex: " + std::strerror(error) + ")";
}

// A SOFTWARE hive holds Microsoft\Windows\CurrentVersion. A SYSTEM or user hive, or an empty
// one, does not; a run over it would find nothing to change, for the wrong reason.
bool looks_like_software(RegistryStore& store) {
    KeyHandle key;
    if (store.open(kLocalMachine, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion", key) != 0)
        return false;
    store.close(key);
    return true;
}
constexpr char kNotSoftware[] =
    "does not look like a SOFTWARE hive (no Microsoft\\Windows\\CurrentVersion key)";

// A path libhivex opens to reach the very file open at `fd`, whatever is renamed meanwhile.
std::string fd_path(int fd) { return "/proc/self/fd/" + std::to_string(fd); }

}  // namespace

int print_report(const HivePath& hive, CheckOutput output) {
    const int fd = open(hive.file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return refuse(hive, std::string("cannot open: ") + std::strerror(errno));
    const HiveFileState state = inspect_hive_file(fd);
    if (!state.damage.empty()) return refuse(hive, state.damage);
    const auto store = HiveStore::open_file(fd_path(fd).c_str(), false);
    if (!store) return refuse(hive, not_a_hive());
    if (!looks_like_software(*store)) return refuse(hive, kNotSoftware);
    if (state.dirty)
        refuse(hive,
               "is dirty: its transaction logs hold newer changes, so what follows may be stale");
    CheckOptions options{output, kProgram, true};
    const int status = run_check(*store, *store, stdout, options);
    return state.dirty && status != kOutputFailed ? kBlockedOrUnreadable : status;
}

int apply_changes(const HivePath& hive, bool backup) {
    const int fd = open(hive.file.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0)
        return refuse(hive, std::string("cannot open for writing: ") + std::strerror(errno));
    // The lock is on the file itself, so that it leaves nothing behind; a file renamed over
    // the hive while this run waited for it is another file.
    struct stat held, named;
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) return refuse(hive, "another run is changing it");
    if (fstat(fd, &held) != 0 || stat(hive.file.c_str(), &named) != 0 ||
        held.st_ino != named.st_ino || held.st_dev != named.st_dev)
        return refuse(hive, "was replaced while this run opened it; run again");
    const HiveFileState state = inspect_hive_file(fd);
    if (!state.damage.empty()) return refuse(hive, state.damage);
    if (state.dirty) return refuse(hive, dirty_advice(hive));
    // Read first, as it is: libhivex opens a hive for writing by copying it whole into memory,
    // which a hive with nothing to change is spared.
    auto store = HiveStore::open_file(fd_path(fd).c_str(), false);
    if (!store) return refuse(hive, not_a_hive());
    if (!looks_like_software(*store)) return refuse(hive, kNotSoftware);

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
        const std::string why = replace_file(
            hive.file, backup, [&](const char* temp) { return store->commit(temp); },
            [&](int written) {
                const HiveFileState now = inspect_hive_file(written);
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
        std::fprintf(stderr, "%s: %s\n", kProgram,
                     changes != 0 ? "the changes were made; the report could not be written in full"
                                  : "the report could not be written in full");
        return kOutputFailed;
    }
    return status == kBlockedOrUnreadable ? status : 0;
}

}  // namespace endpointfix::offline
