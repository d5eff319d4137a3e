// Last-write times in a hive file, which libhivex neither sets nor moves. Windows moves a key's
// last-write time whenever it sets one of the key's values, and stamps the hive's base block
// (and the first bin's header, which keeps a copy for when the base block cannot be trusted)
// with the time it writes the hive; a file written here gets the same.
#pragma once

#include <cstdint>
#include <vector>

#include "registry/result.h"

namespace endpointfix {

// The time now as Windows keeps times: 100-nanosecond intervals since 1601-01-01 UTC.
std::uint64_t filetime_now();

// In the hive file at `path`: writes `when` as the last-write time of the keys whose cells
// start at the file offsets `key_cells`, and as the base block's timestamp and its copy in the
// first bin's header, the base block's checksum recomputed. Each offset must hold a key cell
// ("nk" after the cell's size). On failure (EIO where the file is not as expected) the file is
// to be discarded.
Result stamp_hive_file(const char* path, const std::vector<std::uint64_t>& key_cells,
                       std::uint64_t when);

}  // namespace endpointfix
