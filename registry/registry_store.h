// The five registry operations that everything the program reads and writes goes through.
// The adjustment logic sees only this interface, so it builds and runs where the platform
// registry is absent; no Windows type appears here.
#pragma once

#include <cstddef>
#include <cstdint>

namespace endpointfix {

// Result of a registry operation: zero is success, anything else failure. Callers only
// compare it with zero.
using Status = std::int32_t;
inline constexpr Status kSuccess = 0;

// Failures that every store reports with the platform registry's own codes, so that the check
// can tell what a failure meant (kInvalidHandle: a handle that no open returned, or one closed
// since; kRegistryCorrupt: what the operation reached is damaged, so no write can change it
// either). Any other nonzero status is some other failure.
inline constexpr Status kFileNotFound = 2, kPathNotFound = 3, kAccessDenied = 5, kInvalidHandle = 6,
                        kMoreData = 234, kNoMoreItems = 259, kRegistryCorrupt = 1009;

// An open registry key. Whoever opens a key closes it.
struct KeyHandle {
    std::uintptr_t value = 0;
    friend bool operator==(KeyHandle, KeyHandle) = default;
};

// The predefined HKEY_LOCAL_MACHINE: always open, never opened or closed by the program.
inline constexpr KeyHandle kLocalMachine{0x80000002u};

// Value types the program writes. Stores may hold values of any other type too.
enum class ValueType : std::uint32_t { kString = 1, kBinary = 3, kDword = 4 };

// Key names are at most 255 bytes; with their terminating zero they fit this buffer.
inline constexpr std::size_t kKeyNameBuffer = 256;

class RegistryStore {
public:
    RegistryStore() = default;
    RegistryStore(const RegistryStore&) = delete;
    RegistryStore& operator=(const RegistryStore&) = delete;
    virtual ~RegistryStore() = default;

    // Opens `path` (one or more levels joined by backslashes) below `parent` with default
    // access. On success stores the new handle in `out`; on failure `out` is untouched.
    virtual Status open(KeyHandle parent, const char* path, KeyHandle& out) = 0;

    // Copies the name of the `index`-th direct subkey of `key`, zero-terminated, into `name`.
    // Fails when there is no such subkey or its name does not fit, leaving `name` undefined.
    virtual Status enumerate(KeyHandle key, std::uint32_t index, char (&name)[kKeyNameBuffer]) = 0;

    // Copies value `name` of `key` into `data`; `size` is the capacity on entry and the byte
    // count on success. Fails when the value is absent or larger than the capacity.
    virtual Status read_value(KeyHandle key, const char* name, std::uint8_t* data,
                              std::uint32_t& size) = 0;

    // Creates or replaces value `name` of `key` with `size` bytes of `data`.
    virtual Status write_value(KeyHandle key, const char* name, ValueType type,
                               const std::uint8_t* data, std::uint32_t size) = 0;

    // Closes a handle that `open` returned. Fails for any other handle.
    virtual Status close(KeyHandle key) = 0;
};

}  // namespace endpointfix
