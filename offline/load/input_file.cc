#include "offline/load/input_file.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <vector>

namespace endpointfix::offline {

Result open_regular_file(const std::string& path, int flags, int& fd) {
    fd = open(path.c_str(), flags | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return failed((flags & O_ACCMODE) == O_RDONLY ? "cannot open" : "cannot open for writing",
                      errno);
    struct stat st;
    const Result result = fstat(fd, &st) != 0   ? failed("cannot be read", errno)
                          : S_ISDIR(st.st_mode) ? Result::refused("is a directory")
                          : S_ISREG(st.st_mode) ? Result()
                                                : Result::refused("is not a regular file");
    if (!result.ok()) {
        close(fd);
        fd = -1;
        return result;
    }
    // Reads of a regular file wait for the disk, as they should.
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return result;
}

std::string descriptor_path(int fd) { return "/proc/self/fd/" + std::to_string(fd); }

Result copy_range(int from, int to, std::uint64_t offset, std::uint64_t size) {
    if (lseek(to, static_cast<off_t>(offset), SEEK_SET) < 0) return failed("cannot copy", errno);
    off_t at = static_cast<off_t>(offset);
    const off_t end = static_cast<off_t>(offset + size);
    while (at < end) {
        const ssize_t n = sendfile(to, from, &at, static_cast<std::size_t>(end - at));
        if (n > 0) continue;
        if (n == 0) return failed("cannot copy", EIO);  // the file is shorter than it was
        if (errno == EINTR) continue;
        if (errno != EINVAL && errno != ENOSYS) return failed("cannot copy", errno);
        // No sendfile between these two: read and write.
        std::vector<char> buffer(1 << 20);
        while (at < end) {
            const ssize_t got =
                pread(from, buffer.data(), std::min<std::size_t>(buffer.size(), end - at), at);
            if (got <= 0) return failed("cannot copy", got < 0 ? errno : EIO);
            if (pwrite(to, buffer.data(), static_cast<std::size_t>(got), at) != got)
                return failed("cannot copy", errno != 0 ? errno : EIO);
            at += got;
        }
    }
    return {};
}

namespace {

constexpr char kUnread[] = "cannot be read";

// Copies the first `size` bytes of `from` into `to`, which holds `size` zeros: only the file's
// data, so that its holes (a hive padded to 1 GB, sparse) take no memory. Fails as InputCopy
// does: EIO where the file ended before `size`.
Result copy_data(int from, int to, std::uint64_t size) {
    const off_t end = static_cast<off_t>(size);
    for (off_t at = 0; at < end;) {
        off_t data = lseek(from, at, SEEK_DATA);
        if (data < 0 && errno == EINVAL) data = at;  // no holes told here: all of it is data
        if (data < 0 && errno != ENXIO) return failed(kUnread, errno);
        if (data < 0 || data >= end) break;  // the rest is a hole, or the file is shorter now
        const off_t hole = lseek(from, data, SEEK_HOLE);
        at = hole < 0 ? end : std::min(hole, end);
        if (const Result copied = copy_range(from, to, static_cast<std::uint64_t>(data),
                                             static_cast<std::uint64_t>(at - data));
            !copied.ok())
            return failed(kUnread, copied.code());  // a read that failed, or no memory for it
    }
    struct stat st;
    if (fstat(from, &st) != 0) return failed(kUnread, errno);
    return st.st_size < end ? failed(kUnread, EIO) : Result();
}

}  // namespace

InputCopy::InputCopy(int fd, std::uint64_t limit, bool sealed) {
    struct stat st;
    if (fstat(fd, &st) != 0 ||
        (memfd_ = memfd_create("input", MFD_CLOEXEC | MFD_ALLOW_SEALING)) < 0) {
        result_ = failed(kUnread, errno);
        return;
    }
    const std::uint64_t size =
        std::min<std::uint64_t>(limit, static_cast<std::uint64_t>(st.st_size));
    result_ = ftruncate(memfd_, static_cast<off_t>(size)) != 0 ? failed(kUnread, errno)
                                                               : copy_data(fd, memfd_, size);
    // Sealed, nothing can change or shrink it under the mappings made of it.
    if (result_.ok() && sealed && fcntl(memfd_, F_ADD_SEALS, kInputSeals) != 0)
        result_ = failed(kUnread, errno);
    void* at = MAP_FAILED;
    if (result_.ok() && size != 0) {
        at = mmap(nullptr, static_cast<std::size_t>(size), PROT_READ, MAP_PRIVATE, memfd_, 0);
        if (at == MAP_FAILED) result_ = failed(kUnread, errno);
    }
    if (at == MAP_FAILED) return;
    data_ = static_cast<const std::uint8_t*>(at);
    size_ = static_cast<std::size_t>(size);
}

InputCopy::~InputCopy() {
    if (data_ != nullptr) munmap(const_cast<std::uint8_t*>(data_), size_);
    if (memfd_ >= 0) close(memfd_);
}

}  // namespace endpointfix::offline
