// What the check asks of a registry beyond the five operations of a run: a read that also tells
// the stored type, and whether this account may set a key's values. Nothing here writes.
#pragma once

#include <cstdint>

#include "registry/registry_store.h"

namespace endpointfix {

// What an operation's status meant. Absence (no such key or value, no further subkey) and a
// value or name too large for the buffer are the store as it is; refusals are not, and damage
// (what was reached cannot be read, nor changed) is a refusal that no account gets past.
enum class Outcome : std::uint8_t { kDone, kAbsent, kTooLarge, kDenied, kFailed, kDamaged };

constexpr Outcome outcome(Status status) {
    switch (status) {
        case kSuccess:
            return Outcome::kDone;
        case kFileNotFound:
        case kPathNotFound:
        case kNoMoreItems:
            return Outcome::kAbsent;
        case kMoreData:
            return Outcome::kTooLarge;
        case kAccessDenied:
            return Outcome::kDenied;
        case kRegistryCorrupt:
            return Outcome::kDamaged;
        default:
            return Outcome::kFailed;
    }
}

class StoreInspector {
public:
    StoreInspector() = default;
    StoreInspector(const StoreInspector&) = delete;
    StoreInspector& operator=(const StoreInspector&) = delete;

    // RegistryStore::read_value in one call that also stores the value's type in `type`: set on
    // success and where the value is too large (then `size` is the stored byte count).
    virtual Status read_typed(KeyHandle key, const char* name, std::uint8_t* data,
                              std::uint32_t& size, std::uint32_t& type) = 0;

    // Opens `path` below HKEY_LOCAL_MACHINE for setting values alone and closes it at once.
    // Success means this account may change its values; nothing is written.
    virtual Status probe_set_values(const char* path) = 0;

protected:
    ~StoreInspector() = default;  // not owned through this interface
};

}  // namespace endpointfix
