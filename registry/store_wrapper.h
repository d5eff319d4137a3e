// A RegistryStore that forwards each of the five operations to another store: the base of every
// decorator, which overrides only the operations it changes and inherits the rest as they are.
#pragma once

#include <cstdint>

#include "registry/registry_store.h"

namespace endpointfix {

class StoreWrapper : public RegistryStore {
public:
    // `target` must outlive the wrapper.
    explicit StoreWrapper(RegistryStore& target) : target_(target) {}

    Status open(KeyHandle parent, const char* path, KeyHandle& out) override {
        return target_.open(parent, path, out);
    }
    Status enumerate(KeyHandle key, std::uint32_t index, char (&name)[kKeyNameBuffer]) override {
        return target_.enumerate(key, index, name);
    }
    Status read_value(KeyHandle key, const char* name, std::uint8_t* data,
                      std::uint32_t& size) override {
        return target_.read_value(key, name, data, size);
    }
    Status write_value(KeyHandle key, const char* name, ValueType type, const std::uint8_t* data,
                       std::uint32_t size) override {
        return target_.write_value(key, name, type, data, size);
    }
    Status close(KeyHandle key) override { return target_.close(key); }

protected:
    RegistryStore& target() const { return target_; }

private:
    RegistryStore& target_;
};

}  // namespace endpointfix
