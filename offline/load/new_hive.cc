#include "offline/load/new_hive.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "offline/load/input_file.h"

namespace endpointfix::offline {
namespace {

// Reads `size` bytes at `at` of `fd` into `into`. 0, or an errno value: EIO where it ends sooner.
int read_at(int fd, std::uint64_t at, char* into, std::size_t size) {
    while (size != 0) {
        const ssize_t got = pread(fd, into, size, static_cast<off_t>(at));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return got < 0 ? errno : EIO;
        into += got, size -= static_cast<std::size_t>(got), at += static_cast<std::uint64_t>(got);
    }
    return 0;
}

}  // namespace

Result write_new_hive(const NewHive& hive, const char* path) {
    // Owner only where it is created here; a file that exists keeps its mode.
    const int to = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (to < 0) return failed("cannot open the new hive's file", errno);
    Result result = copy_range(hive.fd, to, 0, hive.size);
    if (close(to) != 0 && result.ok()) result = failed("cannot write the new hive", errno);
    return result;
}

Result holds_new_hive(int fd, const NewHive& hive) {
    struct stat st;
    if (fstat(fd, &st) != 0) return failed("cannot read the new hive back", errno);
    const Result differs = Result::refused("the new hive does not read back as it was made");
    if (static_cast<std::uint64_t>(st.st_size) != hive.size) return differs;
    std::vector<char> made(1 << 20), written(1 << 20);
    for (std::uint64_t at = 0; at < hive.size; at += made.size()) {
        const std::size_t n =
            static_cast<std::size_t>(std::min<std::uint64_t>(made.size(), hive.size - at));
        if (const int error = read_at(hive.fd, at, made.data(), n); error != 0)
            return failed("cannot read the new hive", error);
        if (const int error = read_at(fd, at, written.data(), n); error != 0)
            return failed("cannot read the new hive back", error);
        if (std::memcmp(made.data(), written.data(), n) != 0) return differs;
    }
    return {};
}

}  // namespace endpointfix::offline
