#include "offline/service.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "app/run.h"
#include "check/escaped_name.h"
#include "offline/load/input_file.h"
#include "offline/load/loaded_hive.h"
#include "offline/load/read_back.h"
#include "offline/interrupts.h"
#include "offline/sink/new_file.h"
#include "registry/hive_store.h"

namespace endpointfix::offline {
namespace {

// One line, whatever the names in it hold.
void say(const char* program, const std::string& name, const std::string& what) {
    std::fprintf(stderr, "%s: %s\n", program, escaped_name(name + ": " + what).c_str());
}

int refuse(const char* program, const HiveSource& hive, const std::string& why) {
    say(program, hive.label(), why);
    return kBlockedOrUnreadable;
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
// Writes the hive `store` holds, changes and all, into a new memfd, in memory of this process's
// own until the sink puts it in place, and proves it there (check_new_hive's arguments follow).
Result make_new_hive(HiveStore& store, unsigned sequence, const std::vector<WrittenValue>& writes,
                     int before, NewHive& hive) {
    hive.fd = memfd_create("new hive", MFD_CLOEXEC);
    if (hive.fd < 0) return failed("cannot hold the new hive in memory", errno);
    if (const int error = store.commit(("/proc/self/fd/" + std::to_string(hive.fd)).c_str()))
        return failed("cannot write the new hive", error);
    const off_t size = lseek(hive.fd, 0, SEEK_END);
    if (size < 0) return failed("cannot write the new hive", errno);
    hive.size = static_cast<std::uint64_t>(size);
    const std::string wrong = check_new_hive(hive.fd, sequence, writes, before);
    return wrong.empty() ? Result{} : Result::refused(wrong);
}

constexpr char kNotSoftware[] =
    "does not look like a SOFTWARE hive (no Microsoft\\Windows\\CurrentVersion key)";

}  // namespace

int print_report(const char* program, const HiveSource& hive, CheckOutput output) {
    std::string unopened;
    const int fd = open_regular_file(hive.file, O_RDONLY, unopened);
    if (fd < 0) return refuse(program, hive, unopened);
    const LoadedHive loaded(fd, hive.file);
    if (!loaded.refusal().empty()) return refuse(program, hive, loaded.refusal());
    const auto store = HiveStore::open_file(loaded.path().c_str(), false);
    if (!store) return refuse(program, hive, not_a_hive());
    if (!looks_like_software(*store)) return refuse(program, hive, kNotSoftware);
    if (loaded.recovered()) say(program, hive.label(), loaded.summary());
    CheckOptions options{output, program, true};
    options.source = hive.name.c_str();
    return run_check(*store, *store, stdout, options);
}

int apply_changes(const char* program, const HiveSource& hive, HiveSink& sink, CheckOutput report,
                  bool& wrote) {
    wrote = false;
    // The sink first: this run becomes the only one that changes the hive (hive_sink.h).
    std::string note;
    if (const Result claimed = sink.claim(note); !claimed.ok())
        return refuse(program, hive, claimed.message());
    if (!note.empty()) say(program, hive.label(), note);
    std::string unopened;
    const int fd = open_regular_file(hive.file, O_RDONLY, unopened);
    if (fd < 0) return refuse(program, hive, unopened);
    const LoadedHive loaded(fd, hive.file);
    close(fd);
    if (!loaded.refusal().empty()) return refuse(program, hive, loaded.refusal());
    // Read first, as it is: libhivex opens a hive for writing by copying it whole into memory,
    // which a hive with nothing to change is spared.
    auto store = HiveStore::open_file(loaded.path().c_str(), false);
    if (!store) return refuse(program, hive, not_a_hive());
    if (!looks_like_software(*store)) return refuse(program, hive, kNotSoftware);

    // The report is the check's over the hive as it is; printed once the changes are made.
    std::FILE* held_report = std::tmpfile();
    if (held_report == nullptr)
        return refuse(program, hive, "cannot hold the report: no temporary file");
    std::uint32_t changes = 0;
    CheckOptions options{report, program, true, true, &changes};
    options.source = hive.name.c_str();
    const int status = run_check(*store, *store, held_report, options);
    if (status == kOutputFailed) return refuse(program, hive, "cannot hold the report");
    if (changes != 0) {
        store = HiveStore::open_file(loaded.path().c_str(), true);
        if (!store) return refuse(program, hive, not_a_hive());
        WriteRecorder recorder(*store);
        run(recorder);
        // The report held is printed only once the new hive is proven, and in place.
        NewHive made;
        const Result proven =
            make_new_hive(*store, loaded.state().sequence + 1, recorder.writes(), status, made);
        const SinkResult put =
            proven.ok() ? sink.put(made) : SinkResult{proven.and_then_say("; the hive is as it was")};
        if (made.fd >= 0) close(made.fd);
        wrote = put.wrote;
        if (!put.result.ok()) return refuse(program, hive, put.result.message());
    }
    if (loaded.recovered())
        say(program, hive.label(),
            loaded.summary() + (changes != 0
                                    ? "; written back as one clean hive, with the changes"
                                    : "; nothing to change, so nothing is written: the hive stays "
                                      "dirty, and Windows replays its logs when it next loads it"));
    std::rewind(held_report);
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof(buffer), held_report)) > 0;)
        std::fwrite(buffer, 1, n, stdout);
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        std::fprintf(stderr, "%s: %s\n", program,
                     changes != 0 ? "the changes were made; the report could not be written in full"
                                  : "the report could not be written in full");
        return kOutputFailed;
    }
    return status == kBlockedOrUnreadable ? status : 0;
}

int recover_hive(const char* program, const HiveSource& hive, const std::string& out) {
    struct stat st;
    if (lstat(out.c_str(), &st) == 0) {
        say(program, out, "exists already, and is not overwritten");
        return kBlockedOrUnreadable;
    }
    std::string unopened;
    const int fd = open_regular_file(hive.file, O_RDONLY, unopened);
    if (fd < 0) return refuse(program, hive, unopened);
    const LoadedHive loaded(fd, hive.file);
    if (!loaded.refusal().empty())
        return refuse(program, hive, loaded.refusal() + "; " + out + " is not created");
    if (const Result made = create_file(out, [&](int to) { return loaded.copy_to(to); });
        !made.ok()) {
        say(program, out, made.message());
        return kBlockedOrUnreadable;
    }
    say(program, hive.label(),
        loaded.recovered() ? loaded.summary() + "; written to " + out + " as a clean hive"
                           : "is clean, so Windows loads it as it stands: " + out +
                                 " is a copy of it, byte for byte");
    return kNothingToChange;
}

int serve(const char* program, const Options& options, const HiveSource& hive, HiveSink& sink,
          bool& wrote) {
    wrote = false;
    const CheckOutput report = options.json ? CheckOutput::kJson : CheckOutput::kReport;
    switch (options.mode) {
        case Mode::kApply: {
            const int status = apply_changes(program, hive, sink, report, wrote);
            if (wrote && interrupting_signal() != 0) {
                // Too late to stop: the run ends as one that made its changes.
                say(program, hive.label(),
                    "interrupted after the hive was replaced; it holds the changes");
                forget_interrupt();
            }
            return status;
        }
        case Mode::kRegFile:
            return print_report(program, hive, CheckOutput::kRegFile);
        case Mode::kRecover:
            return recover_hive(program, hive, options.out);
        case Mode::kReport:
            break;
    }
    return print_report(program, hive, report);
}

}  // namespace endpointfix::offline
