#include "offline/sink/volume.h"

#include "offline/sink/digest.h"

namespace endpointfix::offline {

Result Volume::holds(const std::string& path, int from, std::uint64_t size, bool& same) {
    std::string want, got;
    if (const Result hashed = sha256_of(from, size, want); !hashed.ok()) return hashed;
    if (const Result read = sha256(path, got); !read.ok()) return read;
    same = got == want;
    return {};
}

}  // namespace endpointfix::offline
