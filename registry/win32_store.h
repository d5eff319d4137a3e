// RegistryStore bound to the platform registry. Only built for Windows.
#pragma once

#include "registry/registry_store.h"

namespace endpointfix {

class Win32Store final : public RegistryStore {
public:
    Status open(KeyHandle parent, const char* path, KeyHandle& out) override;
    Status enumerate(KeyHandle key, std::uint32_t index, char (&name)[kKeyNameBuffer]) override;
    Status read_value(KeyHandle key, const char* name, std::uint8_t* data,
                      std::uint32_t& size) override;
    Status write_value(KeyHandle key, const char* name, ValueType type, const std::uint8_t* data,
                       std::uint32_t size) override;
    Status close(KeyHandle key) override;
};

}  // namespace endpointfix
