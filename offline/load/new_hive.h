// A new hive made by --apply: committed into memory of this process's own (a sealed memfd) and
// proven there (LoadedHive::make_new_hive) before any of it is written where the old one is.
#pragma once

#include <cstdint>

#include "offline/result.h"

namespace endpointfix::offline {

struct NewHive {
    int fd = -1;  // the sealed memfd; its holder's to close
    std::uint64_t size = 0;
};

// Writes the new hive's bytes to the file at `path`, created (owner only) or cut to nothing
// first. Fails with the errno value.
Result write_new_hive(const NewHive& hive, const char* path);

// Whether the file open at `fd` holds the new hive byte for byte: done, or what differs (or why
// it cannot be read), in a phrase that follows nothing.
Result holds_new_hive(int fd, const NewHive& hive);

}  // namespace endpointfix::offline
