// A new hive made by --apply: committed into memory of this process's own (a sealed memfd) and
// proven there (LoadedHive::make_new_hive) before a sink puts it where the old one is
// (offline/sink/replace.h).
#pragma once

#include <cstdint>

namespace endpointfix::offline {

struct NewHive {
    int fd = -1;  // the sealed memfd; its holder's to close
    std::uint64_t size = 0;
};

}  // namespace endpointfix::offline
