#include "offline/load/read_back.h"

#include <strings.h>

#include <cstdio>
#include <cstdlib>
#include <set>

#include "check/check.h"
#include "offline/load/hive_file.h"
#include "offline/load/input_file.h"
#include "registry/hive_store.h"

namespace endpointfix::offline {
namespace {

// Key paths match as the registry matches names: without regard to case.
struct NoCase {
    bool operator()(const std::string& a, const std::string& b) const {
        return strcasecmp(a.c_str(), b.c_str()) < 0;
    }
};

}  // namespace

Status WriteRecorder::open(KeyHandle parent, const char* path, KeyHandle& out) {
    const Status status = StoreWrapper::open(parent, path, out);
    if (status != kSuccess) return status;
    const auto up = paths_.find(parent.value);
    paths_[out.value] = up == paths_.end() ? path : up->second + "\\" + path;
    return status;
}

Status WriteRecorder::write_value(KeyHandle key, const char* name, ValueType type,
                                  const std::uint8_t* data, std::uint32_t size) {
    const Status status = StoreWrapper::write_value(key, name, type, data, size);
    const auto at = paths_.find(key.value);
    writes_.push_back({at == paths_.end() ? "(unknown key)" : at->second, name, type,
                       std::vector<std::uint8_t>(data, data + size), status});
    return status;
}

Status WriteRecorder::close(KeyHandle key) {
    paths_.erase(key.value);
    return StoreWrapper::close(key);
}

Result read_back(RegistryStore& written, StoreInspector& inspector,
                 const std::vector<WrittenValue>& writes, int before) {
    for (const auto& w : writes) {
        const std::string value = w.key_path + "\\" + w.name;
        if (w.status == kRegistryCorrupt)
            return Result::refused("was not written in full: " + value +
                                   " is damaged, so it cannot be changed");
        if (w.status != kSuccess)
            return Result::refused("was not written in full: the write of " + value +
                                   " failed (status " + std::to_string(w.status) + ")");
        KeyHandle key;
        if (written.open(kLocalMachine, w.key_path.c_str(), key) != kSuccess)
            return Result::refused("does not hold " + value + ": its key cannot be opened");
        // One byte more than was written, so that a longer value does not pass as equal.
        std::vector<std::uint8_t> now(w.bytes.size() + 1);
        std::uint32_t size = static_cast<std::uint32_t>(now.size()), type = 0;
        const Status status = inspector.read_typed(key, w.name.c_str(), now.data(), size, type);
        written.close(key);
        now.resize(status == kSuccess ? size : 0);
        if (status != kSuccess || type != static_cast<std::uint32_t>(w.type) || now != w.bytes)
            return Result::refused("does not hold " + value + " as it was written");
    }
    // The check's report over it is not shown: only what it counts.
    char* text = nullptr;
    std::size_t length = 0;
    std::FILE* out = open_memstream(&text, &length);
    if (out == nullptr) return Result::refused("cannot be checked: no memory");
    std::uint32_t left = 0;
    CheckOptions options{CheckOutput::kReport, "endpointfix-offline", true, false, &left};
    const int status = run_check(written, inspector, out, options);
    std::fclose(out);
    std::free(text);
    if (status == kOutputFailed) return Result::refused("cannot be checked: no memory");
    if (left != 0) return Result::refused("leaves changes to make: " + std::to_string(left));
    if (status != kNothingToChange && before == kNothingToChange)
        return Result::refused("holds keys that cannot be read");
    return {};
}

Result check_key_times(HiveStore& old, HiveStore& now, const std::vector<WrittenValue>& writes,
                       std::uint64_t since, std::uint64_t stamp) {
    if (stamp < since || stamp > filetime_now())
        return Result::refused("is stamped with a time outside the run");
    std::vector<std::string> moved;
    if (!HiveStore::moved_keys(old, now, moved))
        return Result::refused("does not hold the old hive's keys");
    const std::set<std::string, NoCase> moved_keys(moved.begin(), moved.end());
    std::set<std::string, NoCase> changed;
    for (const auto& w : writes) changed.insert(w.key_path);
    for (const auto& key : moved)
        if (!changed.contains(key))
            return Result::refused("moves the last-write time of " + key +
                                   ", in which nothing was written");
    for (const auto& key : changed) {
        KeyHandle handle;
        std::uint64_t time = 0;
        const bool read = now.open(kLocalMachine, key.c_str(), handle) == kSuccess;
        if (read && now.last_write(handle, time) != kSuccess) time = 0;
        if (read) now.close(handle);
        if (!moved_keys.contains(key) || time != stamp)
            return Result::refused("does not give " + key +
                                   " the time of the change as its last-write time");
    }
    return {};
}

Result check_new_hive(int fd, unsigned sequence, const WriteRecorder& run, int before,
                      HiveStore& old) {
    const format::HiveFileState now = inspect_hive_file(fd);
    if (!now.damage.empty()) return Result::refused("the new hive " + now.damage);
    if (now.dirty || now.sequence != sequence)
        return Result::refused("the new hive has unexpected sequence numbers");
    Result opened_back;
    const auto back = HiveStore::open_file(descriptor_path(fd).c_str(), false, opened_back);
    Result wrong = !back ? opened_back : read_back(*back, *back, run.writes(), before);
    if (wrong.ok()) wrong = check_key_times(old, *back, run.writes(), run.started(), now.stamp);
    return wrong.ok() ? wrong : Result::refused("the new hive " + wrong.message());
}

}  // namespace endpointfix::offline
