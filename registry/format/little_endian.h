// The one reading and writing of the hive formats' little-endian numbers, whatever the host's
// order. The caller has checked that the bytes are there.
#pragma once

#include <cstdint>

namespace endpointfix::format {

inline std::uint32_t read_le32(const std::uint8_t* p) {
    return p[0] | p[1] << 8 | p[2] << 16 | std::uint32_t{p[3]} << 24;
}

inline std::uint64_t read_le64(const std::uint8_t* p) {
    return read_le32(p) | std::uint64_t{read_le32(p + 4)} << 32;
}

inline void write_le32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> 8 * i);
}

}  // namespace endpointfix::format
