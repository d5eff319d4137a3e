// The one file that sees the Windows API: each operation is a single registry call.
#include "registry/win32_store.h"

#include <windows.h>

namespace endpointfix {
namespace {

HKEY to_hkey(KeyHandle key) {
    return key == kLocalMachine ? HKEY_LOCAL_MACHINE : reinterpret_cast<HKEY>(key.value);
}

}  // namespace

// A 32-bit process that asks for no particular view is redirected on 64-bit Windows from
// HKLM\SOFTWARE to HKLM\SOFTWARE\WOW6432Node, where the endpoint store does not live. Opens
// therefore ask for the native 64-bit view, with the rights RegOpenKeyA itself would ask for;
// 32-bit Windows ignores the flag.
Status Win32Store::open(KeyHandle parent, const char* path, KeyHandle& out) {
    HKEY opened;
    const LONG status =
        RegOpenKeyExA(to_hkey(parent), path, 0, MAXIMUM_ALLOWED | KEY_WOW64_64KEY, &opened);
    if (status == ERROR_SUCCESS) out = KeyHandle{reinterpret_cast<std::uintptr_t>(opened)};
    return status;
}

Status Win32Store::enumerate(KeyHandle key, std::uint32_t index, char (&name)[kKeyNameBuffer]) {
    return RegEnumKeyA(to_hkey(key), index, name, kKeyNameBuffer);
}

Status Win32Store::read_value(KeyHandle key, const char* name, std::uint8_t* data,
                              std::uint32_t& size) {
    DWORD count = size;
    const LONG status = RegQueryValueExA(to_hkey(key), name, nullptr, nullptr, data, &count);
    size = count;
    return status;
}

Status Win32Store::write_value(KeyHandle key, const char* name, ValueType type,
                               const std::uint8_t* data, std::uint32_t size) {
    return RegSetValueExA(to_hkey(key), name, 0, static_cast<DWORD>(type), data, size);
}

Status Win32Store::close(KeyHandle key) { return RegCloseKey(to_hkey(key)); }

}  // namespace endpointfix
