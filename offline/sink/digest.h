// SHA-256 digests, by which the replace reads back what it wrote, from libcrypto (OpenSSL's EVP,
// which uses the processor's SHA instructions where it has them). The only file that includes
// OpenSSL's headers is digest.cc.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "registry/result.h"

namespace endpointfix::offline {

// The SHA-256 of `bytes`, in lower-case hex; empty where libcrypto cannot hash (no memory).
std::string sha256_hex(std::string_view bytes);

// The SHA-256 of the first `size` bytes of the file open at `fd` (read from its start, whatever
// its position), in lower-case hex: EIO where it ends sooner.
Result sha256_of(int fd, std::uint64_t size, std::string& digest);

}  // namespace endpointfix::offline
