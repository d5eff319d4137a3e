// Replacing a hive so that no failure, kill or signal can leave it half written, or leave its bytes
// where more may read them than may read the hive; and creating a hive file that must not exist,
// the same way. Written once, over a Volume, for a hive file and for a hive in a disk image.
#pragma once

#include <csignal>
#include <string>

#include "registry/result.h"
#include "offline/sink/hive_sink.h"
#include "offline/sink/target.h"
#include "offline/sink/volume.h"

namespace endpointfix::offline {

// Replaces the file at `target.path` on `volume` with `hive`, in this order:
//  0. every check of check_target, which clears what stopped runs left (its note the result's);
//  1. a new file beside it, with a name is_leftover_of knows (owner only, where there are modes);
//  2. the old file's security given to it and read back: owner, mode, every extended attribute
//     but the two below (the POSIX ACL, ntfs-3g's system.ntfs_acl among them), and none the old
//     file lacks (an ACL the new file inherited from its folder is removed), and its inode flags
//     (Volume::flags). No byte of the hive is written before;
//  3. the data written;
//  4. ntfs-3g's system.ntfs_attrib and system.ntfs_crtime, which writing may change, set and read
//     back;
//  5. synced, and read back against `hive` (Volume::holds: the bytes, or their SHA-256);
//  6. with `target.backup`, PATH.bak linked to the old file; the new file renamed over PATH; the
//     folder synced.
// Until the rename, `interrupted` set (by a signal handler) stops it: the new file is removed and
// the hive is as it was. From the rename to the folder's sync, the signals that end a process are
// held. A failure undoes what was done (the new file and the link removed); `wrote` says whether
// the rename was done. The message follows the hive's name and says whether it is as it was.
SinkResult replace_hive(Volume& volume, const Target& target, const NewHive& hive,
                        const volatile std::sig_atomic_t& interrupted);

// Creates the file at `path`, which must not exist, holding `hive`, whole or not at all: a new
// file beside it (owner only, where there are modes) is given `mode` (where there are modes),
// written, synced and read back, then linked as `path` (refused where `path` is there by then)
// and removed; the folder synced. The signals that end a process are held meanwhile. The message
// follows `path`'s name; on failure `path` was not created, unless it says that only the folder
// could not be synced.
Result create_hive_file(Volume& volume, const std::string& path, const NewHive& hive,
                        unsigned mode);

}  // namespace endpointfix::offline
