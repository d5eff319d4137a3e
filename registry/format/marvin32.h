// Marvin32, the hash of the entries of a new-format hive transaction log, with the seed those
// logs use.
#pragma once

#include <cstddef>
#include <cstdint>

namespace endpointfix::format {

inline constexpr std::uint64_t kLogHashSeed = 0x82EF4D887A4E55C5;

std::uint64_t marvin32(const std::uint8_t* data, std::size_t size,
                       std::uint64_t seed = kLogHashSeed);

}  // namespace endpointfix::format
