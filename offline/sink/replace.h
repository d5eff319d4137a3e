// Replacing a hive file so that no failure can leave it half written.
#pragma once

#include <functional>
#include <string>

namespace endpointfix::offline {

// Replaces the file at `path` with a new one, which `write` writes at the path it is given
// (returning 0 or an errno value) and `verify` accepts (returning an empty string, or what is
// wrong with it). The new file is written in the same folder, given the old one's owner, mode
// and security (offline/sink/file_security.h: where one cannot be kept, nothing is replaced), flushed
// to disk, and renamed over the old one, and the folder is flushed. With `backup`,
// the old file stays as PATH.bak (which must not exist yet). Signals that would end the process
// wait until it is done. Returns an empty string, or the reason it failed, which says whether the
// file at `path` is as it was (then nothing is left beside it) or was replaced all the same (only
// the folder's flush failed; `replaced` says which).
std::string replace_file(const std::string& path, bool backup,
                         const std::function<int(const char*)>& write,
                         const std::function<std::string(int fd)>& verify, bool& replaced);

// Creates the file at `path`, which must not exist, whole or not at all: `write` writes it at
// the descriptor it is given (returning 0 or an errno value) in a new file in the same folder,
// which is flushed to disk, given the mode new files get, and linked as `path` (which fails where
// `path` exists by then); the folder is flushed. Signals that would end the process wait until
// it is done. Returns an empty string, or the reason it failed: then `path` was not created,
// unless the reason says that only the folder could not be flushed.
std::string create_file(const std::string& path, const std::function<int(int fd)>& write);

}  // namespace endpointfix::offline
