#include "offline/image/partition_table.h"

#include <algorithm>

namespace endpointfix::offline::image {
namespace {

constexpr std::uint64_t kSector = 512;
constexpr std::size_t kEntries = 446;  // four 16-byte entries, then the signature at 510
constexpr unsigned char kProtective = 0xEE;

std::uint64_t little_endian(std::string_view bytes, std::size_t at, std::size_t width) {
    std::uint64_t value = 0;
    for (std::size_t i = width; i-- > 0;)
        value = value << 8 | static_cast<unsigned char>(bytes[at + i]);
    return value;
}

}  // namespace

std::optional<std::uint64_t> partitioned_size(std::string_view bytes) {
    if (bytes.size() < kSector || bytes.substr(510, 2) != std::string_view("\x55\xaa", 2))
        return std::nullopt;
    std::uint64_t end = 0;
    bool protective = false;
    for (std::size_t entry = kEntries; entry < 510; entry += 16) {
        protective |= static_cast<unsigned char>(bytes[entry + 4]) == kProtective;
        const std::uint64_t count = little_endian(bytes, entry + 12, 4);
        if (count != 0) end = std::max(end, (little_endian(bytes, entry + 8, 4) + count) * kSector);
    }
    if (protective && bytes.size() >= 2 * kSector && bytes.substr(kSector, 8) == "EFI PART") {
        const std::uint64_t backup = little_endian(bytes, kSector + 32, 8);
        // A backup LBA past any disk QEMU opens is damage, not a size: the MBR's figure stands.
        if (backup < (std::uint64_t{1} << 54)) return (backup + 1) * kSector;
    }
    return end;
}

}  // namespace endpointfix::offline::image
