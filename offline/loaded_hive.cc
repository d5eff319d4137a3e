#include "offline/loaded_hive.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "offline/log_replay.h"
#include "offline/path_parts.h"

namespace endpointfix::offline {
namespace {

// A file mapped for reading, whole; an empty file maps to nothing.
class Mapping {
public:
    explicit Mapping(int fd) {
        struct stat st;
        if (fstat(fd, &st) != 0) return;
        if (st.st_size == 0) {
            ok_ = true;
            return;
        }
        void* at =
            mmap(nullptr, static_cast<std::size_t>(st.st_size), PROT_READ, MAP_PRIVATE, fd, 0);
        if (at == MAP_FAILED) return;
        data_ = static_cast<const std::uint8_t*>(at);
        size_ = static_cast<std::size_t>(st.st_size);
        ok_ = true;
    }
    ~Mapping() {
        if (data_ != nullptr) munmap(const_cast<std::uint8_t*>(data_), size_);
    }
    Mapping(const Mapping&) = delete;
    Mapping& operator=(const Mapping&) = delete;
    bool ok() const { return ok_; }
    Bytes bytes() const { return {data_, size_}; }

private:
    const std::uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
    bool ok_ = false;
};

// Copies `size` bytes at `offset` of `from` to the same offset of `to`, in the kernel where it
// can. Returns 0, or an errno value.
int copy_range(int from, int to, std::uint64_t offset, std::uint64_t size) {
    if (lseek(to, static_cast<off_t>(offset), SEEK_SET) < 0) return errno;
    off_t at = static_cast<off_t>(offset);
    const off_t end = static_cast<off_t>(offset + size);
    while (at < end) {
        const ssize_t n = sendfile(to, from, &at, static_cast<std::size_t>(end - at));
        if (n > 0) continue;
        if (n == 0) return EIO;  // the file is shorter than it was
        if (errno == EINTR) continue;
        if (errno != EINVAL && errno != ENOSYS) return errno;
        // No sendfile between these two: read and write.
        std::vector<char> buffer(1 << 20);
        while (at < end) {
            const ssize_t got =
                pread(from, buffer.data(), std::min<std::size_t>(buffer.size(), end - at), at);
            if (got <= 0) return got < 0 ? errno : EIO;
            if (pwrite(to, buffer.data(), static_cast<std::size_t>(got), at) != got)
                return errno != 0 ? errno : EIO;
            at += got;
        }
    }
    return 0;
}

// Writes `bytes` at `offset` of `to`. Returns 0, or an errno value.
int write_at(int to, std::uint64_t offset, Bytes bytes) {
    while (!bytes.empty()) {
        const ssize_t n = pwrite(to, bytes.data(), bytes.size(), static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return n < 0 ? errno : EIO;
        bytes = bytes.subspan(static_cast<std::size_t>(n)), offset += static_cast<std::uint64_t>(n);
    }
    return 0;
}

std::string base_name(const std::string& path) { return split_path(path).name; }

}  // namespace

LoadedHive::LoadedHive(int fd, const std::string& file) : fd_(fd) {
    state_ = inspect_hive_file(fd);
    refusal_ = state_.damage;
    // Replayed: a dirty primary, or one whose base block is damaged, where a log may mend it.
    struct stat st;
    std::uint8_t head[kBaseBlockSize];
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) ||
        st.st_size < static_cast<off_t>(2 * kBaseBlockSize) ||
        pread(fd, head, sizeof(head), 0) != static_cast<ssize_t>(sizeof(head)))
        return;
    const PrimaryState primary_state = offline::primary_state({head, sizeof(head)});
    if (primary_state == PrimaryState::kClean) return;
    const std::vector<std::string> paths = transaction_logs(file);
    if (primary_state == PrimaryState::kDamaged && std::memcmp(head, "regf", 4) != 0 &&
        paths.empty())
        return;  // not a hive at all, as the checks say

    const Mapping primary(fd);
    if (!primary.ok()) {
        refusal_ = std::string("cannot be read: ") + std::strerror(errno);
        return;
    }
    std::vector<std::unique_ptr<Mapping>> maps;  // a mapping outlives the file's descriptor
    std::vector<LogInput> logs;
    for (const auto& path : paths) {
        const int log = open(path.c_str(), O_RDONLY | O_CLOEXEC);
        struct stat ls;
        const bool regular = log >= 0 && fstat(log, &ls) == 0 && S_ISREG(ls.st_mode);
        if (regular) maps.push_back(std::make_unique<Mapping>(log));
        const int error = errno;
        if (log >= 0) close(log);
        if (log >= 0 && !regular) continue;  // a folder named like a log is none
        if (log < 0 || !maps.back()->ok()) {
            refusal_ = "is dirty, and its transaction log " + base_name(path) +
                       " cannot be read: " + std::strerror(error);
            return;
        }
        logs.push_back({base_name(path), maps.back()->bytes()});
    }
    const Replay replay = replay_logs(primary.bytes(), logs);
    int error = 0;
    if (replay.outcome == Replay::Outcome::kRecovered) {
        image_ = memfd_create("recovered hive", MFD_CLOEXEC);
        error = image_ < 0                                                ? errno
                : ftruncate(image_, static_cast<off_t>(replay.size)) != 0 ? errno
                                                                          : 0;
        if (error == 0)
            emit_image(primary.bytes(), replay, [&](std::uint64_t at, Bytes bytes) {
                return (error = write_at(image_, at, bytes)) == 0;
            });
    }
    if (replay.outcome == Replay::Outcome::kRefused) {
        refusal_ = replay.refusal;
        return;
    }
    if (error != 0) {
        refusal_ =
            std::string("cannot hold its recovered image in memory: ") + std::strerror(error);
        return;
    }
    summary_ = replay_summary(replay);
    state_ = inspect_hive_file(image_);
    refusal_ = state_.damage.empty() ? "" : "with its logs replayed, it " + state_.damage;
}

LoadedHive::~LoadedHive() {
    if (image_ >= 0) close(image_);
}

std::string LoadedHive::path() const {
    return "/proc/self/fd/" + std::to_string(image_ >= 0 ? image_ : fd_);
}

int LoadedHive::copy_to(int out) const {
    const int from = image_ >= 0 ? image_ : fd_;
    struct stat st;
    if (fstat(from, &st) != 0) return errno;
    return copy_range(from, out, 0, static_cast<std::uint64_t>(st.st_size));
}

}  // namespace endpointfix::offline
