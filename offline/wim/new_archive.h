// The new archive, written by wimlib into a file of its own beside the old one, before the one
// replace puts it in place.
#pragma once

#include <csignal>
#include <string>

#include "offline/load/new_hive.h"
#include "offline/wim/archive.h"

namespace endpointfix::offline::wim {

// Writes `archive` whole into a new file in the folder of `beside`, which has no name once this
// returns (so that no kill leaves it behind), and sets `written` to its descriptor (the caller's
// to close) and size. The file is made under a name the replace's leftovers clearing knows, for
// the moment before its name is removed.
Result write_new_archive(Archive& archive, const std::string& beside, NewHive& written,
                         const volatile std::sig_atomic_t& interrupted);

}  // namespace endpointfix::offline::wim
