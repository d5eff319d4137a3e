// The one file interface of the offline programs: what replacing a hive, and finding one in a
// disk image, need of the volume it is on, and nothing more. One binding over POSIX calls
// (offline/sink/posix_volume.h), one over libguestfs' appliance (offline/image/guest.cc), one
// in memory (offline/sink/memory_volume.h), and a forwarding base for wrappers
// (offline/sink/volume_wrapper.h), as the tests' fault injection. The checks before a replace,
// the replace (offline/sink/replace.h) and the security carry-over are written once, over it.
//
// Paths are the volume's own: a path of this machine for POSIX, a path in the mounted guest for an
// image. Every call returns a Result; none throws.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "registry/result.h"

namespace endpointfix::offline {

// What a file is, as the replace needs to know it.
struct FileFacts {
    bool regular = false;
    std::uint64_t size = 0;
    std::uint64_t links = 1;  // its names: more than one means hard links
    // Which file it is: two names with the same pair name the same file.
    std::uint64_t device = 0, inode = 0;
    // Owner and mode, where the volume has them (has_modes()).
    unsigned owner = 0, group = 0, mode = 0;
};

class Volume {
public:
    virtual ~Volume() = default;

    // Whether files here have an owner and a mode of their own (POSIX does; an NTFS volume in an
    // image holds its access in the security descriptor alone).
    virtual bool has_modes() const = 0;
    // Where it has modes, the owner of the files create() makes: this process's user.
    virtual unsigned creator() const { return 0; }

    // The code is ENOENT, and only then, where there is no file at `path`.
    virtual Result stat(const std::string& path, FileFacts& facts) = 0;
    // The names in `folder`, without it.
    virtual Result list(const std::string& folder, std::vector<std::string>& names) = 0;

    // Creates the file at `path`, new and empty, which must not exist; where the volume has
    // modes, only its owner may read or write it.
    virtual Result create(const std::string& path) = 0;
    // Gives the file at `path` this owner and mode (where the volume has modes).
    virtual Result set_owner(const std::string& path, unsigned owner, unsigned group,
                             unsigned mode) = 0;

    // Extended attributes, a link not followed. list_attributes gives the names the listing
    // shows; attribute() is asked by name, as ntfs-3g's system.ntfs_acl, system.ntfs_attrib and
    // system.ntfs_crtime must be: std::nullopt in `value` where the file has no such attribute.
    virtual Result list_attributes(const std::string& path, std::vector<std::string>& names) = 0;
    virtual Result attribute(const std::string& path, const std::string& name,
                             std::optional<std::string>& value) = 0;
    virtual Result set_attribute(const std::string& path, const std::string& name,
                                 const std::string& value) = 0;
    // Removes it; ENODATA where the file has no such attribute.
    virtual Result remove_attribute(const std::string& path, const std::string& name) = 0;

    // The inode flags of the file at `path` that a new file may be given without its write being
    // stopped (ext4's no-dump, no-atime, synchronous writes...; never immutable or append-only),
    // as the volume spells them: 0 where it has none. set_flags gives the file these and clears
    // the others of that kind.
    virtual Result flags(const std::string& path, unsigned& flags) = 0;
    virtual Result set_flags(const std::string& path, unsigned flags) = 0;

    // Puts the `size` bytes of the local file open at `from` (from its start) into the file at
    // `path`, which exists, in place of what it holds: the file itself stays, with its security.
    virtual Result write(const std::string& path, int from, std::uint64_t size) = 0;
    // Makes what was written to the file at `path` last through a power cut.
    virtual Result sync(const std::string& path) = 0;
    // The SHA-256 of the file at `path`, in lower-case hex, read from the volume.
    virtual Result sha256(const std::string& path, std::string& digest) = 0;
    // Sets `same` to whether the file at `path`, read from the volume, holds the `size` bytes of
    // the local file open at `from` (from its start) and nothing more. By SHA-256 here, what a
    // volume that cannot give its bytes cheaply gives (an appliance hashes a file without copying
    // it out); the POSIX volume compares the bytes themselves, cheaper than hashing both.
    virtual Result holds(const std::string& path, int from, std::uint64_t size, bool& same);

    // Gives the file at `existing` the new name `name` too (a hard link), which must not exist.
    virtual Result link(const std::string& existing, const std::string& name) = 0;
    // Renames `from` over `to`, in one step.
    virtual Result rename(const std::string& from, const std::string& to) = 0;
    virtual Result remove(const std::string& path) = 0;
    // Makes the names in `folder` (a rename, a link, a removal) last through a power cut.
    virtual Result sync_folder(const std::string& folder) = 0;
};

}  // namespace endpointfix::offline
