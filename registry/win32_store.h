// RegistryStore bound to the platform registry, and the check's questions of it. Only built for
// Windows.
#pragma once

#include "registry/registry_store.h"
#include "registry/store_inspector.h"

namespace endpointfix {

class Win32Store : public RegistryStore {
public:
    // Declared first, so that the class's virtual table goes with it into win32_write.cc, which
    // a program that never writes does not link, and so never imports the write function.
    Status write_value(KeyHandle key, const char* name, ValueType type, const std::uint8_t* data,
                       std::uint32_t size) override;
    Status open(KeyHandle parent, const char* path, KeyHandle& out) override;
    Status enumerate(KeyHandle key, std::uint32_t index, char (&name)[kKeyNameBuffer]) override;
    Status read_value(KeyHandle key, const char* name, std::uint8_t* data,
                      std::uint32_t& size) override;
    Status close(KeyHandle key) override;
};

// The platform registry for the check: the same opens, enumerations, reads and closes, and no
// writes at all (the program that uses it imports no function that writes), with the check's
// questions.
class Win32ReadOnlyStore final : public Win32Store, public StoreInspector {
public:
    // Refused, as access denied, without calling the platform.
    Status write_value(KeyHandle key, const char* name, ValueType type, const std::uint8_t* data,
                       std::uint32_t size) override;

    Status read_typed(KeyHandle key, const char* name, std::uint8_t* data, std::uint32_t& size,
                      std::uint32_t& type) override;
    Status probe_set_values(const char* path) override;
};

}  // namespace endpointfix
