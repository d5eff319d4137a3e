#include "offline/sink/file_sink.h"

#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "offline/load/input_file.h"
#include "offline/sink/posix_volume.h"
#include "offline/sink/replace.h"

namespace endpointfix::offline {

FileSink::~FileSink() {
    if (locked_ >= 0) close(locked_);
}

Result FileSink::claim() {
    int fd = -1;
    if (const Result opened = open_regular_file(target_.path, O_RDWR, fd); !opened.ok())
        return opened;
    if (locked_ >= 0) close(locked_);
    locked_ = fd;
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) return Result::refused("another run is changing it");
    // A file renamed over the hive while this run waited for it is another file.
    struct stat held, named;
    if (fstat(fd, &held) != 0 || stat(target_.path.c_str(), &named) != 0 ||
        held.st_ino != named.st_ino || held.st_dev != named.st_dev)
        return Result::refused("was replaced while this run opened it; run again");
    target_.file = {static_cast<std::uint64_t>(held.st_dev), static_cast<std::uint64_t>(held.st_ino)};
    return {};
}

SinkResult FileSink::put(const NewHive& hive) {
    PosixVolume volume;
    return replace_hive(volume, target_, hive, interrupted_);
}

Result create_hive_file_like(const std::string& out, const std::string& like,
                             const std::function<Result(int fd)>& write) {
    struct stat source;
    if (stat(like.c_str(), &source) != 0) return failed("cannot stat " + like, errno);
    const mode_t mask = umask(0);
    umask(mask);
    NewHive hive{memfd_create("recovered", MFD_CLOEXEC), 0};
    if (hive.fd < 0) return failed("cannot hold the hive", errno);
    Result done = write(hive.fd);
    if (!done.ok() && done.code() > 0) done = failed("cannot write it", done.code());
    struct stat written;
    if (done.ok() && fstat(hive.fd, &written) != 0) done = failed("cannot hold the hive", errno);
    if (done.ok()) hive.size = static_cast<std::uint64_t>(written.st_size);
    PosixVolume volume;
    if (done.ok()) done = create_hive_file(volume, out, hive, 0666 & ~mask & source.st_mode);
    close(hive.fd);
    return done;
}

}  // namespace endpointfix::offline
