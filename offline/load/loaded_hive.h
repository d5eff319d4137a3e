// A hive file as Windows loads it, the one way the service reaches a hive. A clean one is read as
// it stands: its base block and bins, copied into memory (offline/load/input_file.h), whatever
// follows them in the file left out. A dirty one, or one whose base block is damaged, has the
// transaction logs beside it replayed (registry/format/log_replay.h) into a recovered hive held in
// memory (a memfd), which is read in its place; where nothing sound can be made of them, it is
// refused. What is read is reached through this object only: as a store, as a copy, or as the base
// of a new hive, which it proves before anything is written.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "offline/load/hive_file.h"
#include "offline/load/input_file.h"
#include "offline/load/new_hive.h"
#include "offline/load/read_back.h"
#include "registry/hive_store.h"
#include "registry/result.h"

namespace endpointfix::offline {

class LoadedHive;

// What LoadedHive::open gives: the hive, or why not in a phrase that follows the hive's name.
struct Loaded {
    std::unique_ptr<LoadedHive> hive;  // null where it is not loaded
    Result result;
    bool opened = false;  // the file opened as a regular file: a refusal is of what it holds
};

// A store over what a LoadedHive reads, or why not.
struct OpenedStore {
    std::unique_ptr<HiveStore> store;  // null where libhivex cannot read it as a hive
    Result result;
};

class LoadedHive {
public:
    // Opens the file `source` names (its logs are the ones beside it) to be read, and loads it;
    // the file stays open as long as the object lives. Refused where the file cannot be opened,
    // the checks of its base block and first bin fail (against the recovered hive where there is
    // one), or its logs cannot be replayed. Whoever replaces the file locks it through a
    // descriptor of its own (offline/sink/hive_sink.h), before this is called.
    static Loaded open(const HiveSource& source);
    ~LoadedHive();
    LoadedHive(const LoadedHive&) = delete;
    LoadedHive& operator=(const LoadedHive&) = delete;

    bool recovered() const { return recovered_ >= 0; }
    // For a recovered hive, what was replayed: "dirty; replayed 7 log entries from ...".
    const std::string& summary() const { return summary_; }

    // What is read, opened as a store, writable (in memory) where `writable`.
    OpenedStore store(bool writable) const;

    // Commits `changed`, a store of this hive (store(true)) that the run changed, into a new hive
    // in memory, sealed, and proves it (check_new_hive) against `old`, a store of this hive as it
    // is (store(false)): sound, with sequence numbers one past this hive's, holding what `run`
    // wrote, with the key times it moved (`before`: the check's status over this hive). `changed`
    // is freed once committed, before the proof opens the new hive: libhivex holds a writable
    // hive whole in memory, and the two need not be held at once; `run`, the recorder over it,
    // is read for its record alone. `out`, filled where it is done, is the caller's to close.
    // Fails with a phrase that follows the hive's name.
    Result make_new_hive(std::unique_ptr<HiveStore> changed, HiveStore& old,
                         const WriteRecorder& run, int before, NewHive& out) const;

    // Writes what is read, whole, to `out` from its start: a byte-for-byte copy of a clean
    // hive's base block and bins, or the recovered hive. Fails with the errno value.
    Result copy_to(int out) const;

private:
    LoadedHive() = default;
    Result load(const std::string& file);
    Result load_replayed(const std::string& file);  // offline/load/loaded_replay.cc
    int memory() const { return recovered_ >= 0 ? recovered_ : copy_->fd(); }  // what is read

    int file_ = -1;                    // the hive file
    std::unique_ptr<InputCopy> copy_;  // a clean hive's bytes
    int recovered_ = -1;               // the recovered hive, a sealed memfd
    std::string summary_;
    format::HiveFileState state_;  // of what is read: clean, with its sequence numbers
};

}  // namespace endpointfix::offline
