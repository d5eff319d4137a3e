// Records the store operations of a run, to replay them later with no walk or rule logic: the
// floor that the run's own cost is measured against.
#pragma once

#include <string>
#include <unordered_map>
#include <vector>

#include "registry/store_wrapper.h"

namespace endpointfix::bench {

struct Operation {
    enum Kind { kOpen, kEnumerate, kRead, kWrite, kClose } kind;
    int key;  // index of the handle among those opened so far; -1 for HKEY_LOCAL_MACHINE
    std::string name;
    std::uint32_t number = 0;  // enumeration index, read capacity, or bytes written
    std::vector<std::uint8_t> bytes;
};

class RecordingStore final : public StoreWrapper {
public:
    explicit RecordingStore(RegistryStore& inner) : StoreWrapper(inner) {}
    std::vector<Operation> operations;

    Status open(KeyHandle parent, const char* path, KeyHandle& out) override {
        operations.push_back({Operation::kOpen, index(parent), path, 0, {}});
        const Status s = StoreWrapper::open(parent, path, out);
        if (s == kSuccess) handles_[out.value] = opened_++;
        return s;
    }
    Status enumerate(KeyHandle key, std::uint32_t i, char (&name)[kKeyNameBuffer]) override {
        operations.push_back({Operation::kEnumerate, index(key), {}, i, {}});
        return StoreWrapper::enumerate(key, i, name);
    }
    Status read_value(KeyHandle key, const char* name, std::uint8_t* data,
                      std::uint32_t& size) override {
        operations.push_back({Operation::kRead, index(key), name, size, {}});
        return StoreWrapper::read_value(key, name, data, size);
    }
    Status write_value(KeyHandle key, const char* name, ValueType type, const std::uint8_t* data,
                       std::uint32_t size) override {
        operations.push_back({Operation::kWrite,
                              index(key),
                              name,
                              static_cast<std::uint32_t>(type),
                              {data, data + size}});
        return StoreWrapper::write_value(key, name, type, data, size);
    }
    Status close(KeyHandle key) override {
        operations.push_back({Operation::kClose, index(key), {}, 0, {}});
        return StoreWrapper::close(key);
    }

private:
    int index(KeyHandle key) const {
        const auto it = handles_.find(key.value);
        return it == handles_.end() ? -1 : it->second;
    }
    std::unordered_map<std::uintptr_t, int> handles_;
    int opened_ = 0;
};

// Makes the recorded calls again, in order, on `store`.
inline void replay(RegistryStore& store, const std::vector<Operation>& operations,
                   std::vector<KeyHandle>& handles) {
    handles.clear();
    char name[kKeyNameBuffer];
    std::uint8_t data[256];
    for (const Operation& op : operations) {
        const KeyHandle key = op.key < 0 ? kLocalMachine : handles[op.key];
        switch (op.kind) {
            case Operation::kOpen: {
                KeyHandle opened;
                if (store.open(key, op.name.c_str(), opened) == kSuccess) handles.push_back(opened);
                break;
            }
            case Operation::kEnumerate:
                store.enumerate(key, op.number, name);
                break;
            case Operation::kRead: {
                std::uint32_t size = op.number;
                store.read_value(key, op.name.c_str(), data, size);
                break;
            }
            case Operation::kWrite:
                store.write_value(key, op.name.c_str(), static_cast<ValueType>(op.number),
                                  op.bytes.data(), static_cast<std::uint32_t>(op.bytes.size()));
                break;
            case Operation::kClose:
                store.close(key);
                break;
        }
    }
}

}  // namespace endpointfix::bench
