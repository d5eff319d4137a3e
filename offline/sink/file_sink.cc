#include "offline/sink/file_sink.h"

#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "offline/load/input_file.h"
#include "offline/sink/posix_volume.h"
#include "offline/sink/replace.h"

namespace endpointfix::offline {

FileSink::~FileSink() {
    if (locked_ >= 0) close(locked_);
}

Result FileSink::claim(std::string& note) {
    int fd = -1;
    if (const Result opened = open_regular_file(path_, O_RDWR, fd); !opened.ok()) return opened;
    if (locked_ >= 0) close(locked_);
    locked_ = fd;
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) return Result::refused("another run is changing it");
    // A file renamed over the hive while this run waited for it is another file.
    struct stat held, named;
    if (fstat(fd, &held) != 0 || stat(path_.c_str(), &named) != 0 ||
        held.st_ino != named.st_ino || held.st_dev != named.st_dev)
        return Result::refused("was replaced while this run opened it; run again");
    // A rename gives the path a new file; the hive's other names would keep the old one.
    if (held.st_nlink > 1)
        return Result::refused("has other names (hard links), which would keep the old hive");
    PosixVolume volume;
    return remove_leftovers(volume, path_, note);
}

SinkResult FileSink::put(const NewHive& hive) {
    PosixVolume volume;
    return replace_hive(volume, path_, hive, backup_, interrupted_);
}

}  // namespace endpointfix::offline
