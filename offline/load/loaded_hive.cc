#include "offline/load/loaded_hive.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "offline/load/input_file.h"
#include "offline/format/log_replay.h"
#include "offline/load/path_parts.h"

namespace endpointfix::offline {
namespace {

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

LoadedHive::LoadedHive(int fd, const std::string& file) {
    state_ = inspect_hive_file(fd);
    refusal_ = state_.damage;
    if (refusal_.empty() && !state_.dirty) {
        // Clean: read as it stands, the hive's own bytes; whatever follows them is left out.
        copy_ = std::make_unique<InputCopy>(fd, state_.size);
        if (copy_->error() != 0)
            refusal_ = std::string("cannot be read: ") + std::strerror(copy_->error());
        return;
    }
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

    // All of it that bins data could fill: a log's base block may declare bins that the
    // primary's own does not yet. Not sealed: the recovered image is made in it, in place.
    const InputCopy primary(fd, kBaseBlockSize + kMaxBinsSize, false);
    if (primary.error() != 0) {
        refusal_ = std::string("cannot be read: ") + std::strerror(primary.error());
        return;
    }
    std::vector<std::unique_ptr<InputCopy>> copies;  // the logs' bytes, held for the replay
    std::vector<LogInput> logs;
    for (const auto& path : paths) {
        std::string why;
        const int log = open_regular_file(path, O_RDONLY, why);
        if (log >= 0) {
            copies.push_back(std::make_unique<InputCopy>(log));
            close(log);
            if (const int error = copies.back()->error(); error != 0)
                why = std::string("cannot be read: ") + std::strerror(error);
        }
        // A log there that cannot be read is never passed over: its entries may be the latest.
        if (!why.empty()) {
            refusal_ = "is dirty, and its transaction log " + base_name(path) + " " + why;
            return;
        }
        logs.push_back({base_name(path), copies.back()->bytes()});
    }
    const Replay replay = replay_logs(primary.bytes(), logs);
    int error = 0;
    if (replay.outcome == Replay::Outcome::kRecovered) {
        // Made in the primary's own copy, which holds its kept bins data in place already: cut
        // to those (what follows is zeros, then the pages written over it), grown to the image's
        // size, the rest written, and sealed. The copy's mapping is not read from here on.
        image_ = dup(primary.fd());
        const Bytes kept = primary.bytes();
        const auto cut = [&](std::uint64_t size) {
            return ftruncate(image_, static_cast<off_t>(size)) != 0 ? errno : 0;
        };
        error = image_ < 0 ? errno : cut(kBaseBlockSize + replay.kept);
        if (error == 0) error = cut(replay.size);
        if (error == 0)
            emit_image(kept, replay, [&](std::uint64_t at, Bytes bytes) {
                if (at < kept.size() && bytes.data() == kept.data() + at) return true;  // in place
                return (error = write_at(image_, at, bytes)) == 0;
            });
        if (error == 0 && fcntl(image_, F_ADD_SEALS, kInputSeals) != 0) error = errno;
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
    return "/proc/self/fd/" + std::to_string(image_ >= 0 ? image_ : copy_->fd());
}

int LoadedHive::copy_to(int out) const {
    const int from = image_ >= 0 ? image_ : copy_->fd();
    struct stat st;
    if (fstat(from, &st) != 0) return errno;
    return copy_range(from, out, 0, static_cast<std::uint64_t>(st.st_size));
}

}  // namespace endpointfix::offline
