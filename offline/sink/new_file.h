// Creating a file whole or not at all: --recover's copy of a hive.
#pragma once

#include <functional>
#include <string>

#include "registry/result.h"

namespace endpointfix::offline {

// Creates the file at `path`, which must not exist, whole or not at all: `write` writes it at
// the descriptor it is given (returning 0 or an errno value) in a new file in the same folder,
// which is flushed to disk, given the mode new files get, and linked as `path` (which fails where
// `path` exists by then); the folder is flushed. Signals that would end the process wait until
// it is done. On failure `path` was not created, unless the message says that only the folder
// could not be flushed.
Result create_file(const std::string& path, const std::function<int(int fd)>& write);

}  // namespace endpointfix::offline
