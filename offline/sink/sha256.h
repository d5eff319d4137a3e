// SHA-256 (FIPS 180-4), by which the replace reads back what it wrote: bytes in, a digest out.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace endpointfix::offline {

class Sha256 {
public:
    Sha256();
    // Adds `size` bytes at `data` to what is hashed.
    void add(const void* data, std::size_t size);
    // The digest of all that was added, in lower-case hex. Ends the hash: add no more after it.
    std::string hex();

private:
    void compress(const std::uint8_t* block);

    std::array<std::uint32_t, 8> state_;
    std::array<std::uint8_t, 64> block_{};
    std::size_t filled_ = 0;  // bytes in block_
    std::uint64_t total_ = 0;  // bytes added
};

}  // namespace endpointfix::offline
