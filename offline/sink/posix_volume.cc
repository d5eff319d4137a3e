#include "offline/sink/posix_volume.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "offline/load/input_file.h"
#include "offline/sink/digest.h"

namespace endpointfix::offline {
namespace {

// Opens `path`, a link not followed; -1 with errno where it cannot.
int open_file(const std::string& path, int flags) {
    return open(path.c_str(), flags | O_NOFOLLOW | O_CLOEXEC);
}

// Closes `fd`, and says whether what was done through it (`done`) and the close succeeded.
Result closing(int fd, Result done, const std::string& what) {
    if (close(fd) != 0 && done.ok()) return failed(what, errno);
    return done;
}

// Whether an attribute's read failed because the file, or its file system, has no such one.
bool absent(int error) { return error == ENODATA || error == ENOTSUP; }

// Reads `size` bytes at `offset` of `fd` into `to`, as many reads as it takes. 0, or an errno
// value: EIO where the file ends sooner.
int read_at(int fd, char* to, std::size_t size, std::uint64_t offset) {
    while (size > 0) {
        const ssize_t got = pread(fd, to, size, static_cast<off_t>(offset));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return got < 0 ? errno : EIO;
        to += got, size -= static_cast<std::size_t>(got), offset += static_cast<std::uint64_t>(got);
    }
    return 0;
}

// `from`'s first `size` bytes, mapped where its seals keep them from shrinking or changing (the
// new hive's sealed memfd): compared where they lie, they need no copy, and no read of them can
// fault. MAP_FAILED where not: they are read instead.
const void* sealed_view(int from, std::uint64_t size) {
    constexpr int kKept = F_SEAL_SHRINK | F_SEAL_WRITE;
    struct stat st;
    const int seals = fcntl(from, F_GET_SEALS);
    if (size == 0 || seals < 0 || (seals & kKept) != kKept || fstat(from, &st) != 0 ||
        static_cast<std::uint64_t>(st.st_size) < size)
        return MAP_FAILED;
    const auto length = static_cast<std::size_t>(size);
    return mmap(nullptr, length, PROT_READ, MAP_SHARED | MAP_POPULATE, from, 0);
}

// Whether the file open at `fd`, `size` bytes long, holds what `from` holds; 0 or an errno
// value (`from`'s read failing as EIO where it is shorter).
int same_bytes(int fd, int from, std::uint64_t size, bool& same) {
    constexpr std::size_t kPiece = 1 << 20;
    const void* const view = sealed_view(from, size);
    std::vector<char> ours(kPiece), theirs(view == MAP_FAILED ? kPiece : 0);
    int error = 0;
    same = true;
    for (std::uint64_t at = 0; at < size && same && error == 0; at += kPiece) {
        const std::size_t piece =
            static_cast<std::size_t>(std::min<std::uint64_t>(kPiece, size - at));
        const char* want = view == MAP_FAILED ? theirs.data() : static_cast<const char*>(view) + at;
        error = read_at(fd, ours.data(), piece, at);
        if (error == 0 && view == MAP_FAILED) error = read_at(from, theirs.data(), piece, at);
        same = error == 0 && std::memcmp(ours.data(), want, piece) == 0;
    }
    if (view != MAP_FAILED) munmap(const_cast<void*>(view), static_cast<std::size_t>(size));
    return error;
}

}  // namespace

unsigned PosixVolume::creator() const { return geteuid(); }

Result PosixVolume::stat(const std::string& path, FileFacts& facts) {
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) return failed("cannot stat " + path, errno);
    facts = {S_ISREG(st.st_mode), static_cast<std::uint64_t>(st.st_size),
             static_cast<std::uint64_t>(st.st_nlink), static_cast<std::uint64_t>(st.st_dev),
             static_cast<std::uint64_t>(st.st_ino), st.st_uid, st.st_gid, st.st_mode & 07777u};
    return {};
}

Result PosixVolume::list(const std::string& folder, std::vector<std::string>& names) {
    DIR* dir = opendir(folder.c_str());
    if (dir == nullptr) return failed("cannot list " + folder, errno);
    errno = 0;
    while (const dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") names.push_back(name);
    }
    const int error = errno;
    closedir(dir);
    return error != 0 ? failed("cannot list " + folder, error) : Result{};
}

Result PosixVolume::create(const std::string& path) {
    const int fd = open_file(path, O_WRONLY | O_CREAT | O_EXCL);
    if (fd < 0) return failed("cannot create " + path, errno);
    // Only its owner may read or write it, whatever the umask: it is to hold a hive.
    const Result done = fchmod(fd, 0600) == 0 ? Result{} : failed("cannot create " + path, errno);
    return closing(fd, done, "cannot create " + path);
}

Result PosixVolume::set_owner(const std::string& path, unsigned owner, unsigned group,
                              unsigned mode) {
    const int fd = open_file(path, O_RDONLY);
    if (fd < 0) return failed("cannot open " + path, errno);
    Result done;
    if (fchown(fd, owner, group) != 0) done = failed("cannot give " + path + " its owner", errno);
    if (done.ok() && fchmod(fd, mode) != 0)
        done = failed("cannot give " + path + " its mode", errno);
    return closing(fd, done, "cannot close " + path);
}

Result PosixVolume::list_attributes(const std::string& path, std::vector<std::string>& names) {
    std::string list;
    for (int tries = 0;; ++tries) {  // the list may grow between the two calls
        const ssize_t size = llistxattr(path.c_str(), nullptr, 0);
        if (size < 0 && errno == ENOTSUP) return {};
        if (size < 0) return failed("cannot list the extended attributes of " + path, errno);
        list.assign(static_cast<std::size_t>(size), '\0');
        const ssize_t got = llistxattr(path.c_str(), list.data(), list.size());
        if (got >= 0) {
            list.resize(static_cast<std::size_t>(got));
            break;
        }
        if (errno != ERANGE || tries == 3)
            return failed("cannot list the extended attributes of " + path, errno);
    }
    for (std::size_t at = 0; at < list.size(); at = list.find('\0', at) + 1)
        names.emplace_back(list.c_str() + at);
    return {};
}

Result PosixVolume::attribute(const std::string& path, const std::string& name,
                              std::optional<std::string>& value) {
    value.reset();
    for (int tries = 0; tries < 4; ++tries) {  // the value may grow between the two calls
        const ssize_t size = lgetxattr(path.c_str(), name.c_str(), nullptr, 0);
        if (size < 0 && absent(errno)) return {};
        if (size < 0) break;
        std::string bytes(static_cast<std::size_t>(size), '\0');
        const ssize_t got = lgetxattr(path.c_str(), name.c_str(), bytes.data(), bytes.size());
        if (got >= 0) return value = bytes.substr(0, static_cast<std::size_t>(got)), Result{};
        if (errno != ERANGE) break;
    }
    return failed("cannot read the attribute " + name + " of " + path, errno);
}

Result PosixVolume::set_attribute(const std::string& path, const std::string& name,
                                  const std::string& value) {
    if (lsetxattr(path.c_str(), name.c_str(), value.data(), value.size(), 0) != 0)
        return failed("cannot set the attribute " + name + " of " + path, errno);
    return {};
}

Result PosixVolume::remove_attribute(const std::string& path, const std::string& name) {
    if (lremovexattr(path.c_str(), name.c_str()) != 0)
        return failed("cannot remove the attribute " + name + " of " + path, errno);
    return {};
}

Result PosixVolume::write(const std::string& path, int from, std::uint64_t size) {
    const int fd = open_file(path, O_WRONLY | O_TRUNC);
    if (fd < 0) return failed("cannot open " + path + " for writing", errno);
    const Result copied = copy_range(from, fd, 0, size);
    return closing(fd, copied.ok() ? Result{} : failed("cannot write " + path, copied.code()),
                   "cannot write " + path);
}

Result PosixVolume::sync(const std::string& path) {
    const int fd = open_file(path, O_RDONLY);
    if (fd < 0) return failed("cannot open " + path, errno);
    const Result done = fsync(fd) == 0 ? Result{} : failed("cannot flush " + path, errno);
    return closing(fd, done, "cannot flush " + path);
}

Result PosixVolume::sha256(const std::string& path, std::string& digest) {
    const int fd = open_file(path, O_RDONLY);
    if (fd < 0) return failed("cannot open " + path, errno);
    struct stat st;
    Result done = fstat(fd, &st) == 0 ? Result{} : failed("cannot stat " + path, errno);
    if (done.ok()) done = sha256_of(fd, static_cast<std::uint64_t>(st.st_size), digest);
    if (!done.ok()) done = Result(done.code(), path + ": " + done.message());
    return closing(fd, done, "cannot read back " + path);
}

Result PosixVolume::holds(const std::string& path, int from, std::uint64_t size, bool& same) {
    const int fd = open_file(path, O_RDONLY);
    if (fd < 0) return failed("cannot open " + path, errno);
    struct stat st;
    Result done = fstat(fd, &st) == 0 ? Result{} : failed("cannot stat " + path, errno);
    same = done.ok() && static_cast<std::uint64_t>(st.st_size) == size;
    if (same) {
        const int error = same_bytes(fd, from, size, same);
        if (error != 0) done = failed("cannot read back " + path, error);
    }
    return closing(fd, done, "cannot read back " + path);
}

Result PosixVolume::link(const std::string& existing, const std::string& name) {
    if (::link(existing.c_str(), name.c_str()) != 0) return failed("cannot link " + name, errno);
    return {};
}

Result PosixVolume::rename(const std::string& from, const std::string& to) {
    if (::rename(from.c_str(), to.c_str()) != 0)
        return failed("cannot rename " + from + " to " + to, errno);
    return {};
}

Result PosixVolume::remove(const std::string& path) {
    if (unlink(path.c_str()) != 0) return failed("cannot remove " + path, errno);
    return {};
}

Result PosixVolume::sync_folder(const std::string& folder) {
    const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return failed("cannot open the folder " + folder, errno);
    const Result done = fsync(fd) == 0 ? Result{} : failed("cannot flush the folder " + folder, errno);
    return closing(fd, done, "cannot flush the folder " + folder);
}

}  // namespace endpointfix::offline
