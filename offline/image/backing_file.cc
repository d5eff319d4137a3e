#include "offline/image/backing_file.h"

#include <cstdint>

namespace endpointfix::offline::image {
namespace {

constexpr std::string_view kQcow2Magic{"QFI\xfb", 4};
constexpr std::size_t kHeaderEnd = 20;     // the fields read end here
constexpr std::uint32_t kLongestName = 1023;  // QEMU's bound on a backing file's name

std::uint64_t big_endian(std::string_view bytes, std::size_t at, std::size_t width) {
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < width; ++i)
        value = value << 8 | static_cast<unsigned char>(bytes[at + i]);
    return value;
}

}  // namespace

BackingFile qcow2_backing_file(std::string_view bytes) {
    if (bytes.size() < kHeaderEnd || bytes.substr(0, kQcow2Magic.size()) != kQcow2Magic) return {};
    const std::uint64_t offset = big_endian(bytes, 8, 8);
    const std::uint64_t size = big_endian(bytes, 16, 4);
    if (offset == 0) return {};
    if (size == 0 || size > kLongestName)
        return {"", "its header gives the backing file's name a size of " + std::to_string(size) +
                        " bytes"};
    if (offset < kHeaderEnd || offset > bytes.size() || size > bytes.size() - offset)
        return {"", "its header puts the backing file's name at byte " + std::to_string(offset) +
                        ", outside the header read"};
    return {std::string(bytes.substr(offset, size)), ""};
}

}  // namespace endpointfix::offline::image
