// Writing a serviced hive back into its disk image.
#pragma once

#include <csignal>
#include <cstdint>
#include <string>

#include "offline/image/find_hive.h"

namespace endpointfix::offline::image {

// What was read out of the image: where the hive is, and its size and checksum then.
struct HiveRead {
    Installation at;
    std::int64_t size = 0;
    std::string sha256;
};

// What --apply is told about a hibernated volume.
extern const char kHibernated[];

// Opens `image` read-write and puts the file `local` in place of the hive `read` describes:
// only where the volume is not hibernated and the hive is still the one read, it is uploaded
// under a temporary name (`temp_suffix` appended to the hive's) in its folder, renamed over the
// hive, and the image flushed. The new file carries the hive's NTFS security descriptor, file
// attributes and other extended attributes, each read back before the rename; where one cannot
// be kept, nothing is replaced. With `backup`, the old hive stays as HIVE.bak (a link to it, so
// its security is its own), which must not be there yet. The transaction logs are left as they
// are. The signals that end the process are held from the upload to the end; where
// `interrupted` is set by then, nothing is written. Returns an empty string, or why it failed
// (a phrase that follows the hive's name), saying whether the image is as it was; `wrote` says
// whether the hive was replaced.
std::string write_back(const std::string& image, const HiveRead& read, const std::string& local,
                       bool backup, const std::string& temp_suffix,
                       const volatile std::sig_atomic_t& interrupted, bool& wrote);

}  // namespace endpointfix::offline::image
