// A hive's security, carried over to the new file that replaces it: who may read and change it
// (owner, mode, POSIX ACL, NTFS security descriptor, every other extended attribute, and no
// attribute the old file lacks), the inode flags that do not stop a write, and the NTFS
// attributes and creation time that writing the data may change. Written once, over a Volume.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "offline/sink/volume.h"

namespace endpointfix::offline {

using Attributes = std::vector<std::pair<std::string, std::string>>;  // name, value

struct Security {
    FileFacts facts;   // owner, group and mode, where the volume has modes
    unsigned flags = 0;  // the inode flags a new file may be given (Volume::flags)
    Attributes early;  // every extended attribute but `late`: given before any byte of data
    Attributes late;   // system.ntfs_attrib and system.ntfs_crtime: given after the data
};

// Reads the security of the file at `path`: every attribute its listing shows, and those that
// ntfs-3g shows to no listing, asked by name (system.ntfs_acl, system.ntfs_attrib,
// system.ntfs_crtime), where it has them.
Result read_security(Volume& volume, const std::string& path, Security& security);

// Gives the file at `path` the owner, mode, `early` attributes and flags of `security`, removes
// every other attribute its listing shows, and reads them back once all are set (setting one
// may change another: a mode rewrites an ACL's mask).
Result give_security(Volume& volume, const std::string& path, const Security& security);

// After the data is written: gives the file at `path` the `late` attributes, and again any of
// the rest that the write changed (a write drops security.capability and may drop set-id bits),
// and reads all back.
Result keep_security_after_write(Volume& volume, const std::string& path,
                                 const Security& security);

}  // namespace endpointfix::offline
