#include "offline/service.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>

#include "app/run.h"
#include "check/escaped_name.h"
#include "offline/interrupts.h"
#include "offline/load/loaded_hive.h"
#include "offline/load/read_back.h"
#include "offline/sink/file_sink.h"

namespace endpointfix::offline {

void say(const char* program, const std::string& name, const std::string& what) {
    std::fprintf(stderr, "%s: %s\n", program, escaped_name(name + ": " + what).c_str());
}

namespace {

int refuse(const char* program, const HiveSource& hive, const std::string& why) {
    say(program, hive.label(), why);
    return kBlockedOrUnreadable;
}

// Loads the hive and opens it as a store to be read, as it is (libhivex opens a hive for writing
// by copying it whole into memory, which a hive with nothing to change is spared). Done where it
// is a SOFTWARE hive, which holds Microsoft\Windows\CurrentVersion; a SYSTEM or user hive, or an
// empty one, does not, and a run over it would find nothing to change, for the wrong reason.
Result read_software(const HiveSource& hive, Loaded& loaded, OpenedStore& read) {
    loaded = LoadedHive::open(hive);
    if (!loaded.hive) return loaded.result;
    read = loaded.hive->store(false);
    if (!read.store) return read.result;
    KeyHandle key;
    if (read.store->open(kLocalMachine, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion", key) != 0)
        return Result::refused(
            "does not look like a SOFTWARE hive (no Microsoft\\Windows\\CurrentVersion key)");
    read.store->close(key);
    return {};
}

// Makes the changes in a writable copy of `loaded`, has it make and prove the new hive against
// `old` (the store the check read), and puts that through `sink`. `before` is the check's status
// over the hive as it was.
SinkResult write_changes(const LoadedHive& loaded, HiveStore& old, HiveSink& sink, int before) {
    auto [store, unread] = loaded.store(true);
    if (!store) return {unread};
    WriteRecorder recorder(*store);
    run(recorder);
    NewHive made;
    const Result result = loaded.make_new_hive(std::move(store), old, recorder, before, made);
    if (!result.ok()) return {result.and_then_say(kAsItWas)};
    const SinkResult put = sink.put(made);
    close(made.fd);
    return put;
}

// The report of --apply, held in memory until the hive has its changes: it is small, and no file
// system can fail it (a full or read-only /tmp). `stream` is null where there is no memory.
struct HeldReport {
    char* text = nullptr;
    std::size_t size = 0;
    std::FILE* stream = open_memstream(&text, &size);
    ~HeldReport() {
        if (stream != nullptr) std::fclose(stream);
        std::free(text);
    }
};

// The check's report, its .reg file or its JSON document (whose "source" is the source's name),
// for the hive as Windows will hold it.
int print_report(const char* program, const HiveSource& hive, CheckOutput output) {
    Loaded loaded;
    OpenedStore read;
    if (const Result why = read_software(hive, loaded, read); !why.ok())
        return refuse(program, hive, why.message());
    if (loaded.hive->recovered()) say(program, hive.label(), loaded.hive->summary());
    CheckOptions options{output, program, true};
    options.source = hive.name.c_str();
    return run_check(*read.store, *read.store, stdout, options);
}

// Makes the changes, putting the new hive through `sink` (which keeps the old one as a backup
// where the front end asked for one), and prints the report (kReport) or JSON document (kJson)
// of what was changed once the sink has it. A dirty hive is written as one clean hive, its logs'
// changes and the rules' together; with nothing to change, nothing is written. `wrote` says
// whether the sink replaced the hive.
int apply_changes(const char* program, const HiveSource& hive, HiveSink& sink, CheckOutput report,
                  bool& wrote) {
    wrote = false;
    // The sink first: this run becomes the only one that changes the hive (hive_sink.h).
    if (const Result claimed = sink.claim(); !claimed.ok())
        return refuse(program, hive, claimed.message());
    Loaded loaded;
    OpenedStore read;
    if (const Result why = read_software(hive, loaded, read); !why.ok())
        return refuse(program, hive, why.message());

    // The report is the check's over the hive as it is; printed once the changes are made.
    const HeldReport held;
    if (held.stream == nullptr) return refuse(program, hive, "cannot hold the report: no memory");
    std::uint32_t changes = 0;
    CheckOptions options{report, program, true, true, &changes};
    options.source = hive.name.c_str();
    options.says_written = true;
    const int status = run_check(*read.store, *read.store, held.stream, options);
    if (status == kOutputFailed) return refuse(program, hive, "cannot hold the report");
    if (changes != 0) {
        const SinkResult put = write_changes(*loaded.hive, *read.store, sink, status);
        wrote = put.wrote;
        if (!put.note.empty()) say(program, hive.label(), put.note);
        if (!put.result.ok()) return refuse(program, hive, put.result.message());
    }
    if (loaded.hive->recovered())
        say(program, hive.label(),
            loaded.hive->summary() +
                (changes != 0 ? "; written back as one clean hive, with the changes"
                              : "; nothing to change, so nothing is written: the hive stays "
                                "dirty, and Windows replays its logs when it next loads it"));
    if (std::fflush(held.stream) != 0 ||
        std::fwrite(held.text, 1, held.size, stdout) != held.size || std::fflush(stdout) != 0) {
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

// Writes the hive as Windows would load it to the new file `out`: a dirty hive with its logs
// replayed, clean; a clean one byte for byte. The hive and its logs are left as they are.
int recover_hive(const char* program, const HiveSource& hive, const std::string& out) {
    struct stat st;
    if (lstat(out.c_str(), &st) == 0) {
        say(program, out, "exists already, and is not overwritten");
        return kBlockedOrUnreadable;
    }
    // A hive that cannot be opened is refused as such; one refused once read, with `out` named.
    const Loaded loaded = LoadedHive::open(hive);
    if (!loaded.hive)
        return refuse(
            program, hive,
            loaded.result.message() + (loaded.opened ? "; " + out + " is not created" : ""));
    const LoadedHive& read = *loaded.hive;
    if (const Result made = create_hive_file_like(out, hive.file,
                                                  [&](int to) { return read.copy_to(to); });
        !made.ok()) {
        say(program, out, made.message());
        return kBlockedOrUnreadable;
    }
    say(program, hive.label(),
        read.recovered() ? read.summary() + "; written to " + out + " as a clean hive"
                         : "is clean, so Windows loads it as it stands: " + out +
                               " is a copy of it, byte for byte");
    return kNothingToChange;
}

}  // namespace

int serve(const char* program, const Options& options, const HiveSource& hive, HiveSink& sink) {
    const CheckOutput report = options.json ? CheckOutput::kJson : CheckOutput::kReport;
    if (options.mode == Mode::kReport) return print_report(program, hive, report);
    if (options.mode == Mode::kRegFile) return print_report(program, hive, CheckOutput::kRegFile);
    if (options.mode == Mode::kRecover) return recover_hive(program, hive, options.out);
    bool wrote = false;
    const int status = apply_changes(program, hive, sink, report, wrote);
    if (wrote && interrupting_signal() != 0) {
        // Too late to stop: the run ends as one that made its changes.
        say(program, hive.label(), "interrupted after the hive was replaced; it holds the changes");
        forget_interrupt();
    }
    return status;
}

}  // namespace endpointfix::offline
