#include "registry/dry_run_store.h"

#include <cstdio>
#include <cstring>

namespace endpointfix {

const char* DryRunStore::path(KeyHandle key) const {
    if (key == kLocalMachine) return "";
    for (const OpenKey& k : keys_)
        if (k.handle == key && key.value != 0) return k.path;
    return nullptr;
}

// The new key's path is made in a free slot, and kept there if the open succeeds.
Status DryRunStore::open(KeyHandle parent, const char* path, KeyHandle& out) {
    OpenKey* slot = keys_;
    while (slot < keys_ + kTrackedKeys - 1 && slot->handle.value != 0) ++slot;
    const char* up = this->path(parent);
    const bool known =
        slot->handle.value == 0 && up && std::strlen(up) + std::strlen(path) + 2 <= kPathBuffer;
    if (known) std::sprintf(slot->path, *up ? "%s\\%s" : "%s%s", up, path);
    const Status status = StoreWrapper::open(parent, path, out);
    const Outcome result = outcome(status);
    if (result == Outcome::kDone && known) slot->handle = out;
    if (result == Outcome::kDone) listener_.opened(out);
    // Below HKEY_LOCAL_MACHINE the run opens its roots, which may be absent; below any other key
    // only names it has just listed there.
    const bool listed_name = !(parent == kLocalMachine);
    if (result != Outcome::kDone && (result != Outcome::kAbsent || listed_name))
        listener_.refused(known ? slot->path : nullptr, result, false);
    return status;
}

Status DryRunStore::enumerate(KeyHandle key, std::uint32_t index, char (&name)[kKeyNameBuffer]) {
    const Status status = StoreWrapper::enumerate(key, index, name);
    const Outcome result = outcome(status);
    if (result == Outcome::kDone) listener_.listed(key);
    if (result != Outcome::kDone && status != kNoMoreItems)
        listener_.refused(path(key), result, true);
    return status;
}

// Reads `name` with capacity `size` into `data`, typed, and says what was found.
Status DryRunStore::look(KeyHandle key, const char* name, std::uint8_t* data, std::uint32_t size,
                         StoredValue& found) {
    std::uint32_t type = 0;
    const Status status = inspector_.read_typed(key, name, data, size, type);
    found = {outcome(status), type, size, status == kSuccess ? data : nullptr};
    if (status != kSuccess && found.outcome != Outcome::kTooLarge) found.size = 0;
    return status;
}

Status DryRunStore::read_value(KeyHandle key, const char* name, std::uint8_t* data,
                               std::uint32_t& size) {
    StoredValue found;
    const Status status = look(key, name, data, size, found);
    size = found.size;
    last_.key = key;
    last_.name = name;
    last_.outcome = found.outcome;
    last_.size = found.size;
    listener_.read(key, name, found);
    return status;
}

Status DryRunStore::write_value(KeyHandle key, const char* name, ValueType type,
                                const std::uint8_t* data, std::uint32_t size) {
    StoredValue before{last_.outcome, 0, last_.size, nullptr};
    const bool known = last_.key == key && last_.name == name &&
                       (before.outcome == Outcome::kAbsent ||
                        (before.outcome == Outcome::kTooLarge && before.size != size));
    if (!known) look(key, name, inspected_, kValueBuffer, before);
    const bool same = before.outcome == Outcome::kDone &&
                      before.type == static_cast<std::uint32_t>(type) && before.size == size &&
                      std::memcmp(before.bytes, data, size) == 0;
    const bool change = !same && before.outcome != Outcome::kDamaged;
    const char* at = path(key);
    const Outcome access = !change ? Outcome::kDone
                           : at    ? outcome(inspector_.probe_set_values(at))
                                   : Outcome::kFailed;
    listener_.write(key, name, before, {type, data, size, change, access});
    return kSuccess;
}

Status DryRunStore::close(KeyHandle key) {
    for (OpenKey& k : keys_)
        if (k.handle == key) k.handle = KeyHandle{};
    if (last_.key == key) last_.key = KeyHandle{};
    return StoreWrapper::close(key);
}

}  // namespace endpointfix
