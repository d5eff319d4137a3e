// The file binding's sinks: the new hive takes the place of a hive file; --recover's copy is a
// new file.
#pragma once

#include <csignal>
#include <functional>
#include <string>

#include "offline/sink/hive_sink.h"
#include "offline/sink/target.h"

namespace endpointfix::offline {

// Replaces the hive file at `path` (offline/sink/replace.h), which stays as PATH.bak with
// `backup`; `interrupted`, set by a signal handler, stops the replace until its rename.
class FileSink final : public HiveSink {
public:
    FileSink(std::string path, bool backup, const volatile std::sig_atomic_t& interrupted)
        : target_(std::move(path), backup), interrupted_(interrupted) {}
    ~FileSink() override;
    FileSink(const FileSink&) = delete;
    FileSink& operator=(const FileSink&) = delete;

    // Opens the hive for writing and locks it (flock, held until this sink is gone: the lock is
    // on the file itself, so that it leaves nothing behind), and refuses it where the path no
    // longer names the file locked. The replace checks that it still does.
    Result claim() override;
    SinkResult put(const NewHive& hive) override;

private:
    Target target_;
    const volatile std::sig_atomic_t& interrupted_;
    int locked_ = -1;
};

// Creates the hive file `out`, which must not exist, whole or not at all (create_hive_file):
// `write` writes it at the descriptor it is given, from its start; it is given the mode new files
// get here, but no permission the file `like` (the hive it comes from) lacks. The message
// follows `out`'s name.
Result create_hive_file_like(const std::string& out, const std::string& like,
                             const std::function<Result(int fd)>& write);

}  // namespace endpointfix::offline
