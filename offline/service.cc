#include "offline/service.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <string>
#include <utility>

#include "app/run.h"
#include "check/escaped_name.h"
#include "offline/load/loaded_hive.h"
#include "offline/interrupts.h"
#include "offline/load/read_back.h"
#include "offline/sink/new_file.h"

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

// A SOFTWARE hive holds Microsoft\Windows\CurrentVersion. A SYSTEM or user hive, or an empty
// one, does not; a run over it would find nothing to change, for the wrong reason.
bool looks_like_software(RegistryStore& store) {
    KeyHandle key;
    if (store.open(kLocalMachine, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion", key) != 0)
        return false;
    store.close(key);
    return true;
}
// Makes the changes in a writable copy of `loaded`, has it make and prove the new hive against
// `old` (the store the check read), and puts that through `sink`. `before` is the check's status
// over the hive as it was.
SinkResult write_changes(const LoadedHive& loaded, HiveStore& old, HiveSink& sink, int before) {
    Result result;
    auto store = loaded.store(true, result);
    if (!store) return {result};
    WriteRecorder recorder(*store);
    run(recorder);
    NewHive made;
    result = loaded.make_new_hive(std::move(store), old, recorder, before, made);
    if (!result.ok()) return {result.and_then_say("; the hive is as it was")};
    const SinkResult put = sink.put(made);
    close(made.fd);
    return put;
}

// Copies the report held in `held` to stdout. Whether all of it was written.
bool print_held(std::FILE* held) {
    std::rewind(held);
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof(buffer), held)) > 0;)
        std::fwrite(buffer, 1, n, stdout);
    return std::fflush(stdout) == 0 && !std::ferror(stdout) && !std::ferror(held);
}

constexpr char kNotSoftware[] =
    "does not look like a SOFTWARE hive (no Microsoft\\Windows\\CurrentVersion key)";

}  // namespace

int print_report(const char* program, const HiveSource& hive, CheckOutput output) {
    Result result;
    const auto loaded = LoadedHive::open(hive, LoadedHive::Access::kRead, result);
    if (!loaded) return refuse(program, hive, result.message());
    const auto store = loaded->store(false, result);
    if (!store) return refuse(program, hive, result.message());
    if (!looks_like_software(*store)) return refuse(program, hive, kNotSoftware);
    if (loaded->recovered()) say(program, hive.label(), loaded->summary());
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
    Result result;
    const auto loaded = LoadedHive::open(hive, LoadedHive::Access::kRead, result);
    if (!loaded) return refuse(program, hive, result.message());
    // Read first, as it is: libhivex opens a hive for writing by copying it whole into memory,
    // which a hive with nothing to change is spared.
    auto store = loaded->store(false, result);
    if (!store) return refuse(program, hive, result.message());
    if (!looks_like_software(*store)) return refuse(program, hive, kNotSoftware);

    // The report is the check's over the hive as it is; printed once the changes are made.
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> held_report(std::tmpfile(), std::fclose);
    if (!held_report)
        return refuse(program, hive, "cannot hold the report: no temporary file");
    std::uint32_t changes = 0;
    CheckOptions options{report, program, true, true, &changes};
    options.source = hive.name.c_str();
    options.says_written = true;
    const int status = run_check(*store, *store, held_report.get(), options);
    if (status == kOutputFailed) return refuse(program, hive, "cannot hold the report");
    if (changes != 0) {
        const SinkResult put = write_changes(*loaded, *store, sink, status);
        wrote = put.wrote;
        if (!put.result.ok()) return refuse(program, hive, put.result.message());
    }
    if (loaded->recovered())
        say(program, hive.label(),
            loaded->summary() +
                (changes != 0 ? "; written back as one clean hive, with the changes"
                              : "; nothing to change, so nothing is written: the hive stays "
                                "dirty, and Windows replays its logs when it next loads it"));
    if (!print_held(held_report.get())) {
        std::fprintf(stderr, "%s: %s\n", program,
                     changes != 0 ? "the changes were made; the report could not be written in full"
                                  : "the report could not be written in full");
        return kOutputFailed;
    }
    // The same status as a refusal, which wrote nothing: said apart here.
    if (status == kBlockedOrUnreadable && changes != 0)
        say(program, hive.label(), "the changes were made; part of the store cannot be read");
    return status == kBlockedOrUnreadable ? status : 0;
}

int recover_hive(const char* program, const HiveSource& hive, const std::string& out) {
    struct stat st;
    if (lstat(out.c_str(), &st) == 0) {
        say(program, out, "exists already, and is not overwritten");
        return kBlockedOrUnreadable;
    }
    // A hive that cannot be opened is refused as such; one refused once read, with `out` named.
    Result result;
    bool opened = false;
    const auto loaded = LoadedHive::open(hive, LoadedHive::Access::kRead, result, [&](int) {
        opened = true;
        return Result();
    });
    if (!loaded)
        return refuse(program, hive,
                      result.message() + (opened ? "; " + out + " is not created" : ""));
    if (const Result made = create_file(out, [&](int to) { return loaded->copy_to(to).code(); });
        !made.ok()) {
        say(program, out, made.message());
        return kBlockedOrUnreadable;
    }
    say(program, hive.label(),
        loaded->recovered() ? loaded->summary() + "; written to " + out + " as a clean hive"
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
