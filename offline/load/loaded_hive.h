// A hive file as Windows loads it. A clean one is read as it stands: its base block and bins,
// copied into memory (offline/load/input_file.h), whatever follows them in the file left out. A dirty
// one, or one whose base block is damaged, has the transaction logs beside it replayed
// (offline/format/log_replay.h) into an image held in memory (a memfd), which is read in its place;
// where nothing sound can be made of them, it is refused.
#pragma once

#include <memory>
#include <string>

#include "offline/load/hive_file.h"
#include "offline/load/input_file.h"

namespace endpointfix::offline {

class LoadedHive {
public:
    // Loads the hive file open at `fd` (which stays the caller's, and is read here only), named
    // `file`: its logs are the ones beside that path.
    LoadedHive(int fd, const std::string& file);
    ~LoadedHive();
    LoadedHive(const LoadedHive&) = delete;
    LoadedHive& operator=(const LoadedHive&) = delete;

    // Why it cannot be read: the checks of its base block and first bin, which run against the
    // recovered image where there is one, or why its logs cannot be replayed. Empty where it can.
    const std::string& refusal() const { return refusal_; }
    bool recovered() const { return image_ >= 0; }
    // A path that reaches what is to be read, in this process's memory: the clean hive's bytes,
    // or the recovered image.
    std::string path() const;
    // What is read, as inspect_hive_file sees it: clean, with the image's sequence numbers.
    const HiveFileState& state() const { return state_; }
    // For a recovered hive, what was replayed: "dirty; replayed 7 log entries from ...".
    const std::string& summary() const { return summary_; }
    // Writes what is read, whole, to `out` from its start: a byte-for-byte copy of a clean
    // hive's base block and bins, or the recovered image. Returns 0, or an errno value.
    int copy_to(int out) const;

private:
    std::unique_ptr<InputCopy> copy_;  // a clean hive's bytes
    int image_ = -1;
    std::string refusal_, summary_;
    HiveFileState state_;
};

}  // namespace endpointfix::offline
