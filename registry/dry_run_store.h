// A RegistryStore that runs the program without changing anything: it forwards every open,
// enumeration, read and close to the registry it wraps, and in place of each write it works out
// what the write would do and tells its listener. The check runs the program's own run sequence
// over it, so that what it reports is decided by the rules themselves. Value names are compared
// by address, not by text: the run names values by the constants of endpoints/property_names.h.
#pragma once

#include <cstddef>
#include <cstdint>

#include "registry/registry_store.h"
#include "registry/store_inspector.h"
#include "registry/store_wrapper.h"

namespace endpointfix {

// A value as the registry held it when the dry run looked: `type` and `size` are set where it
// was read (kDone; `bytes` then holds it) or was too large to read (kTooLarge); `size` is 0
// otherwise.
struct StoredValue {
    Outcome outcome;
    std::uint32_t type;
    std::uint32_t size;
    const std::uint8_t* bytes;
};

// A write the run asked for. It is a change where the value is absent or differs in type or in
// bytes, but never where the value is damaged: the write fails there as the read did, and the
// value is unreadable. `access` says, for a change, whether this account may make it (kDone) or
// not.
struct PendingWrite {
    ValueType type;
    const std::uint8_t* bytes;
    std::uint32_t size;
    bool change;
    Outcome access;
};

// Told what the run sees. Keys are open handles, whose paths DryRunStore::path gives; the bytes
// a value points at are valid for the call only.
class DryRunListener {
public:
    // `key` was opened.
    virtual void opened(KeyHandle key) = 0;
    // A subkey of `key` was listed.
    virtual void listed(KeyHandle key) = 0;
    virtual void read(KeyHandle key, const char* name, const StoredValue& found) = 0;
    virtual void write(KeyHandle key, const char* name, const StoredValue& before,
                       const PendingWrite& write) = 0;
    // An open of `path` (null where unknown), or where `listing`, an enumeration of the key at
    // `path`, failed: the store is there but cannot be read in full. An absent root and the end
    // of an enumeration ("no more items") are no refusals; a subkey that was listed and cannot
    // be opened is one, whatever the reason (not found included: a name that the listing
    // garbled, or a key deleted since), and so is an enumeration that ends for any other reason
    // (a name too long for the buffer among them).
    virtual void refused(const char* path, Outcome why, bool listing) = 0;

protected:
    ~DryRunListener() = default;  // not owned through this interface
};

class DryRunStore final : public StoreWrapper {
public:
    // Paths are kept for up to kTrackedKeys keys open at once (the walk holds three).
    static constexpr std::size_t kTrackedKeys = 8;
    static constexpr std::size_t kPathBuffer = 1024;
    static constexpr std::uint32_t kValueBuffer = 512;

    // `inspector` is the same registry as `inner`, asked the check's extra questions.
    DryRunStore(RegistryStore& inner, StoreInspector& inspector, DryRunListener& listener)
        : StoreWrapper(inner), inspector_(inspector), listener_(listener), keys_{}, last_{} {}

    Status open(KeyHandle parent, const char* path, KeyHandle& out) override;
    Status enumerate(KeyHandle key, std::uint32_t index, char (&name)[kKeyNameBuffer]) override;
    Status read_value(KeyHandle key, const char* name, std::uint8_t* data,
                      std::uint32_t& size) override;
    // Writes nothing: tells the listener what the write would do, and returns success.
    Status write_value(KeyHandle key, const char* name, ValueType type, const std::uint8_t* data,
                       std::uint32_t size) override;
    Status close(KeyHandle key) override;

    // The path of an open key below HKEY_LOCAL_MACHINE ("" for it), or null where unknown.
    const char* path(KeyHandle key) const;

private:
    struct OpenKey {
        KeyHandle handle;  // 0 for a free slot
        char path[kPathBuffer];
    };
    // The last read, which a write of the same value often follows (the render rule writes
    // what it could not read back): where it found the value absent, or too large and of
    // another size, it tells what the write needs to know without another read.
    struct LastRead {
        KeyHandle key;     // 0 where there is none
        const char* name;  // compared by address: the run names values by its constants
        Outcome outcome;
        std::uint32_t size;
    };

    Status look(KeyHandle key, const char* name, std::uint8_t* data, std::uint32_t size,
                StoredValue& found);

    StoreInspector& inspector_;
    DryRunListener& listener_;
    OpenKey keys_[kTrackedKeys];
    LastRead last_;
    std::uint8_t inspected_[kValueBuffer];
};

}  // namespace endpointfix
