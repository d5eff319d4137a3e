// The file binding's sink: the new hive takes the place of a hive file.
#pragma once

#include <csignal>
#include <string>

#include "offline/sink/hive_sink.h"

namespace endpointfix::offline {

// Replaces the hive file at `path` (offline/sink/replace.h), which stays as PATH.bak with
// `backup`; `interrupted`, set by a signal handler, stops the replace until its rename.
class FileSink final : public HiveSink {
public:
    FileSink(std::string path, bool backup, const volatile std::sig_atomic_t& interrupted)
        : path_(std::move(path)), backup_(backup), interrupted_(interrupted) {}
    ~FileSink() override;
    FileSink(const FileSink&) = delete;
    FileSink& operator=(const FileSink&) = delete;

    // Opens the hive for writing and locks it (flock, held until this sink is gone: the lock is
    // on the file itself, so that it leaves nothing behind), refuses it where it has other
    // names or the path no longer names it, and removes the leftovers of runs that died.
    Result claim(std::string& note) override;
    SinkResult put(const NewHive& hive) override;

private:
    std::string path_;
    bool backup_;
    const volatile std::sig_atomic_t& interrupted_;
    int locked_ = -1;
};

}  // namespace endpointfix::offline
