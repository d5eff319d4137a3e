#include "offline/std_streams.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace endpointfix::offline {

bool open_standard_streams() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) >= 0 || errno != EBADF) continue;
        // The lowest descriptor free is this one; not close-on-exec, as a stream is inherited.
        const int opened = open("/dev/null", O_RDWR);
        if (opened == fd) continue;
        if (opened >= 0) close(opened);
        return false;
    }
    return true;
}

}  // namespace endpointfix::offline
