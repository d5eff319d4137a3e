// What --apply proves of the new hive before it takes the old one's place: that it holds what
// the run wrote, read back from the file itself.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "registry/hive_store.h"
#include "registry/hive_times.h"
#include "registry/registry_store.h"
#include "registry/result.h"
#include "registry/store_inspector.h"
#include "registry/store_wrapper.h"

namespace endpointfix::offline {

// A write the run asked for, and what the store answered.
struct WrittenValue {
    std::string key_path;  // below HKEY_LOCAL_MACHINE
    std::string name;
    ValueType type;
    std::vector<std::uint8_t> bytes;
    Status status;
};

// Forwards every call to `inner`, and keeps each write with its key's path and its status.
class WriteRecorder final : public StoreWrapper {
public:
    explicit WriteRecorder(RegistryStore& inner) : StoreWrapper(inner) {}
    Status open(KeyHandle parent, const char* path, KeyHandle& out) override;
    Status write_value(KeyHandle key, const char* name, ValueType type, const std::uint8_t* data,
                       std::uint32_t size) override;
    Status close(KeyHandle key) override;
    const std::vector<WrittenValue>& writes() const { return writes_; }
    std::uint64_t started() const { return started_; }  // before any write, as a FILETIME

private:
    std::uint64_t started_ = filetime_now();
    std::map<std::uintptr_t, std::string> paths_;  // of the keys open now
    std::vector<WrittenValue> writes_;
};

// Whether `written`, the new hive opened afresh, holds what the run wrote: every write
// succeeded and reads back with its type and bytes, and the check over it finds nothing left to
// change, nor more it cannot read than before (`before` is the check's status over the hive the
// run changed). Done, or refused with why not in a phrase that names the value.
Result read_back(RegistryStore& written, StoreInspector& inspector,
                      const std::vector<WrittenValue>& writes, int before);

// Whether `now`, written from `old` by the run that made `writes` (the first of them no earlier
// than `since`), moved the last-write time of each key a value was set in to the time it was
// written (its base block's `stamp`, itself within the run), and of no other key, as Windows
// does. Done, or refused with why not in a phrase that names the key.
Result check_key_times(HiveStore& old, HiveStore& now, const std::vector<WrittenValue>& writes,
                            std::uint64_t since, std::uint64_t stamp);

// The whole proof over the new hive file open at `fd`, written by `run` from the hive `old`:
// its base block and first bin sound, both sequence numbers `sequence`, read_back and
// check_key_times over it opened as a store. Done, or refused with why not in a phrase that
// follows the hive's name ("the new hive ...").
Result check_new_hive(int fd, unsigned sequence, const WriteRecorder& run, int before,
                      HiveStore& old);

}  // namespace endpointfix::offline
