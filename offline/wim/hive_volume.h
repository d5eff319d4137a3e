// The NTFS volume the new hive of an edition is put into the archive from: wimlib's NTFS capture
// takes a file's data, security descriptor, attributes and times from such a volume, and it has no
// other way to give one file a descriptor. Written through libntfs-3g, which opens the volume in
// this process (no mount, no FUSE, no root needed): the one file that includes its headers.
#pragma once

#include <cstdint>
#include <string>

#include "registry/result.h"

namespace endpointfix::offline::wim {

// The one file the volume's root folder holds.
struct VolumeFile {
    std::string name;
    int from = -1;               // its data: the first `size` bytes of the file open here
    std::uint64_t size = 0;
    std::string descriptor;      // self-relative, stored as it is
    std::uint32_t attributes = 0;
    std::uint64_t created = 0;   // NTFS time
};

// Makes the new file `path` (which must not exist) an NTFS volume, by Debian's mkntfs (a quick
// format, sparse), whose root folder holds `file` alone.
Result make_volume_with(const std::string& path, const VolumeFile& file);

}  // namespace endpointfix::offline::wim
