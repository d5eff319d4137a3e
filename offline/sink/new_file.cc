#include "offline/sink/new_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "offline/load/path_parts.h"
#include "offline/sink/held_signals.h"
#include "offline/sink/posix_volume.h"

namespace endpointfix::offline {

Result create_file(const std::string& path, const std::function<int(int fd)>& write) {
    const PathParts parts = split_path(path);
    std::string temp = sibling_path(path, "." + parts.name + ".endpointfix-XXXXXX");
    const HeldSignals held;
    const int fd = mkstemp(temp.data());
    if (fd < 0) return failed("cannot create a file beside it", errno);
    const mode_t mask = umask(0);
    umask(mask);
    Result done;
    if (const int error = write(fd); error != 0) done = failed("cannot write it", error);
    if (done.ok() && fchmod(fd, 0666 & ~mask) != 0) done = failed("cannot set its mode", errno);
    if (done.ok() && fsync(fd) != 0) done = failed("cannot flush it", errno);
    close(fd);
    if (done.ok() && link(temp.c_str(), path.c_str()) != 0)
        done = errno == EEXIST ? Result::refused("exists already, and is not overwritten")
                               : failed("cannot create it", errno);
    unlink(temp.c_str());
    if (!done.ok()) return done;
    const Result synced = PosixVolume().sync_folder(parts.folder);
    return synced.ok() ? synced : Result(synced.code(), "created, but " + synced.message());
}

}  // namespace endpointfix::offline
