// The registry binding, which with win32_write.cc is all that sees the Windows API: each
// operation is a single registry call, but the check's probe, which opens a key level by level.
#include "registry/win32_store.h"

#include <windows.h>

#include <cstring>

namespace endpointfix {
namespace {

static_assert(kFileNotFound == ERROR_FILE_NOT_FOUND && kPathNotFound == ERROR_PATH_NOT_FOUND &&
              kAccessDenied == ERROR_ACCESS_DENIED && kMoreData == ERROR_MORE_DATA &&
              kNoMoreItems == ERROR_NO_MORE_ITEMS);

HKEY to_hkey(KeyHandle key) {
    return key == kLocalMachine ? HKEY_LOCAL_MACHINE : reinterpret_cast<HKEY>(key.value);
}

// A 32-bit process that asks for no particular view is redirected on 64-bit Windows from
// HKLM\SOFTWARE to HKLM\SOFTWARE\WOW6432Node, where the endpoint store does not live. Opens
// therefore ask for the native 64-bit view, with the rights RegOpenKeyA itself would ask for;
// 32-bit Windows ignores the flag.
Status open_key(KeyHandle parent, const char* path, KeyHandle& out) {
    HKEY opened;
    const LONG status =
        RegOpenKeyExA(to_hkey(parent), path, 0, MAXIMUM_ALLOWED | KEY_WOW64_64KEY, &opened);
    if (status == ERROR_SUCCESS) out = KeyHandle{reinterpret_cast<std::uintptr_t>(opened)};
    return status;
}

Status read_key_value(KeyHandle key, const char* name, std::uint8_t* data, std::uint32_t& size,
                      DWORD* type) {
    DWORD count = size;
    const LONG status = RegQueryValueExA(to_hkey(key), name, nullptr, type, data, &count);
    size = count;
    return status;
}

}  // namespace

Status Win32Store::open(KeyHandle parent, const char* path, KeyHandle& out) {
    return open_key(parent, path, out);
}

Status Win32Store::enumerate(KeyHandle key, std::uint32_t index, char (&name)[kKeyNameBuffer]) {
    return RegEnumKeyA(to_hkey(key), index, name, kKeyNameBuffer);
}

Status Win32Store::read_value(KeyHandle key, const char* name, std::uint8_t* data,
                              std::uint32_t& size) {
    return read_key_value(key, name, data, size, nullptr);
}

Status Win32Store::close(KeyHandle key) { return RegCloseKey(to_hkey(key)); }

Status Win32ReadOnlyStore::write_value(KeyHandle, const char*, ValueType, const std::uint8_t*,
                                       std::uint32_t) {
    return ERROR_ACCESS_DENIED;
}

Status Win32ReadOnlyStore::read_typed(KeyHandle key, const char* name, std::uint8_t* data,
                                      std::uint32_t& size, std::uint32_t& type) {
    DWORD kind = 0;
    const Status status = read_key_value(key, name, data, size, &kind);
    type = kind;
    return status;
}

// The same view and the same opens as the run's: one level at a time, each key by its name
// below the one before, so that a key the run can reach (names of up to 255 bytes, whose whole
// path may be longer than the platform takes in one call) is the key probed. The last level is
// opened for setting values alone.
Status Win32ReadOnlyStore::probe_set_values(const char* path) {
    HKEY key = HKEY_LOCAL_MACHINE;
    for (;;) {
        const char* end = path;
        while (*end != 0 && *end != '\\') ++end;
        const auto length = static_cast<std::size_t>(end - path);
        const bool last = *end == 0;
        char name[kKeyNameBuffer];
        LONG status = ERROR_INVALID_PARAMETER;  // a name longer than any key's
        HKEY opened;
        if (length < sizeof(name)) {
            std::memcpy(name, path, length);
            name[length] = 0;
            const REGSAM rights = last ? KEY_SET_VALUE : MAXIMUM_ALLOWED;
            status = RegOpenKeyExA(key, name, 0, rights | KEY_WOW64_64KEY, &opened);
        }
        if (key != HKEY_LOCAL_MACHINE) RegCloseKey(key);
        if (status != ERROR_SUCCESS) return status;
        if (last) return RegCloseKey(opened), ERROR_SUCCESS;
        key = opened;
        path = end + 1;
    }
}

}  // namespace endpointfix
