// The platform write, apart from the rest of the binding so that the check, which never writes,
// does not link it (see win32_store.h).
#include <windows.h>

#include "registry/win32_store.h"

namespace endpointfix {

Status Win32Store::write_value(KeyHandle key, const char* name, ValueType type,
                               const std::uint8_t* data, std::uint32_t size) {
    HKEY hkey = key == kLocalMachine ? HKEY_LOCAL_MACHINE : reinterpret_cast<HKEY>(key.value);
    return RegSetValueExA(hkey, name, 0, static_cast<DWORD>(type), data, size);
}

}  // namespace endpointfix
