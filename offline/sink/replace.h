// Replacing a hive so that no failure, kill or signal can leave it half written, or leave its bytes
// where more may read them than may read the hive. Written once, over a Volume, for a hive file and
// for a hive in a disk image.
#pragma once

#include <csignal>
#include <string>

#include "registry/result.h"
#include "offline/sink/hive_sink.h"
#include "offline/sink/volume.h"

namespace endpointfix::offline {

// The prefix and suffix of the temporary files the replace makes beside a hive NAME:
// ".NAME.endpointfix-XXXXXX", six letters or digits. Only a run of this program makes such names.
bool is_leftover_of(const std::string& hive_name, const std::string& file_name);

// Replaces the file at `target` on `volume` with `hive`, in this order:
//  1. a new file beside it, with a name is_leftover_of knows (owner only, where there are modes);
//  2. the old file's security given to it and read back: owner, mode, every extended attribute
//     but the two below (the POSIX ACL, ntfs-3g's system.ntfs_acl among them). No byte of the
//     hive is written before;
//  3. the data written;
//  4. ntfs-3g's system.ntfs_attrib and system.ntfs_crtime, which writing may change, set and read
//     back;
//  5. synced, and read back against `hive` (Volume::holds: the bytes, or their SHA-256);
//  6. with `backup`, TARGET.bak linked to the old file (it must not exist); the new file renamed
//     over TARGET; the folder synced.
// Until the rename, `interrupted` set (by a signal handler) stops it: the new file is removed and
// the hive is as it was. From the rename to the folder's sync, the signals that end a process are
// held. A failure undoes what was done (the new file and the link removed); `wrote` says whether
// the rename was done. The message follows the hive's name and says whether it is as it was.
SinkResult replace_hive(Volume& volume, const std::string& target, const NewHive& hive,
                        bool backup, const volatile std::sig_atomic_t& interrupted);

// Removes the files beside `target` that is_leftover_of names: left by runs that died. Call it only
// while holding what makes this run the only one (HiveSink::claim). `note` says, in one line, how
// many were removed, where any were.
Result remove_leftovers(Volume& volume, const std::string& target, std::string& note);

}  // namespace endpointfix::offline
