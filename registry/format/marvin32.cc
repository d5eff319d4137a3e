#include "registry/format/marvin32.h"

#include <bit>

#include "registry/format/little_endian.h"

namespace endpointfix::format {

std::uint64_t marvin32(const std::uint8_t* data, std::size_t size, std::uint64_t seed) {
    std::uint32_t lo = static_cast<std::uint32_t>(seed),
                  hi = static_cast<std::uint32_t>(seed >> 32);
    const auto mix = [&] {
        hi ^= lo;
        lo = std::rotl(lo, 20) + hi;
        hi = std::rotl(hi, 9) ^ lo;
        lo = std::rotl(lo, 27) + hi;
        hi = std::rotl(hi, 19);
    };
    for (; size >= 4; data += 4, size -= 4) {
        lo += read_le32(data);
        mix();
    }
    // The 0 to 3 bytes left, with 0x80 just after them.
    std::uint32_t last = 0x80u << 8 * size;
    for (std::size_t i = 0; i < size; ++i) last |= std::uint32_t{data[i]} << 8 * i;
    lo += last;
    mix();
    mix();
    return std::uint64_t{hi} << 32 | lo;
}

}  // namespace endpointfix::format
