// How long a disk was when it was partitioned, read from its first two sectors alone: a disk
// image cut short (a copy that did not finish) is told apart from a damaged filesystem.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace endpointfix::offline::image {

// The bytes the reader needs: the master boot record and, for GPT, the header in sector 1.
constexpr std::size_t kPartitionTableBytes = 1024;

// The size in bytes that the partition table at the start of `bytes` gives the disk, at least:
// for GPT (a protective MBR entry of type 0xEE), one sector past the backup header's LBA (the
// header's 64-bit little-endian field at byte 32 of sector 1, after its "EFI PART" signature);
// for MBR, the end of the partition that ends last (each entry's 32-bit start and count of
// 512-byte sectors). Nothing where `bytes` holds no table (no 0x55AA signature, too short).
std::optional<std::uint64_t> partitioned_size(std::string_view bytes);

}  // namespace endpointfix::offline::image
