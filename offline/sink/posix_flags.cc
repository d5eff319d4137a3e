// PosixVolume's inode flags, through the ioctls of ext4 and the file systems that share them.
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>

#include "offline/sink/posix_volume.h"

namespace endpointfix::offline {
namespace {

// The inode flags (chattr) a new hive is given as the old one has them: none that stops a write
// (immutable, append-only) or that the file system sets itself (extents, inline data).
constexpr unsigned kCarried = FS_NODUMP_FL | FS_NOATIME_FL | FS_SYNC_FL | FS_SECRM_FL |
                              FS_UNRM_FL | FS_COMPR_FL | FS_NOCOMP_FL | FS_NOCOW_FL;

// Whether the file system has no inode flags to read or set.
bool no_flags(int error) {
    return error == ENOTTY || error == ENOTSUP || error == EINVAL || error == ENOSYS;
}

// Opens `path` to read or set its flags, a link not followed; -1 with errno where it cannot.
int open_file(const std::string& path) {
    return open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
}

// Closes `fd`, and says whether what was done through it (`done`) and the close succeeded.
Result closing(int fd, Result done, const std::string& what) {
    if (close(fd) != 0 && done.ok()) return failed(what, errno);
    return done;
}

}  // namespace

Result PosixVolume::flags(const std::string& path, unsigned& flags) {
    flags = 0;
    const int fd = open_file(path);
    if (fd < 0) return failed("cannot open " + path, errno);
    int all = 0;
    Result done;
    if (ioctl(fd, FS_IOC_GETFLAGS, &all) == 0)
        flags = static_cast<unsigned>(all) & kCarried;
    else if (!no_flags(errno))
        done = failed("cannot read the inode flags of " + path, errno);
    return closing(fd, done, "cannot read the inode flags of " + path);
}

Result PosixVolume::set_flags(const std::string& path, unsigned flags) {
    const int fd = open_file(path);
    if (fd < 0) return failed("cannot open " + path, errno);
    int all = 0;
    Result done;
    if (ioctl(fd, FS_IOC_GETFLAGS, &all) != 0) {
        if (!no_flags(errno) || flags != 0) done = failed("cannot give " + path + " its inode flags", errno);
    } else if ((static_cast<unsigned>(all) & kCarried) != flags) {
        all = static_cast<int>((static_cast<unsigned>(all) & ~kCarried) | flags);
        if (ioctl(fd, FS_IOC_SETFLAGS, &all) != 0)
            done = failed("cannot give " + path + " its inode flags", errno);
    }
    return closing(fd, done, "cannot give " + path + " its inode flags");
}

}  // namespace endpointfix::offline
