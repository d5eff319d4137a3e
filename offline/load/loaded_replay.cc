// LoadedHive's replay path: a dirty primary, or one whose base block is damaged, read with the
// transaction logs beside it replayed into a recovered hive in memory.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

#include "registry/format/log_replay.h"
#include "offline/load/loaded_hive.h"
#include "offline/load/path_parts.h"

namespace endpointfix::offline {
namespace {

constexpr char kCannotHold[] = "cannot hold its recovered hive in memory";

// Writes `bytes` at `offset` of `to`.
Result write_at(int to, std::uint64_t offset, format::Bytes bytes) {
    while (!bytes.empty()) {
        const ssize_t n = pwrite(to, bytes.data(), bytes.size(), static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return failed(kCannotHold, n < 0 ? errno : EIO);
        bytes = bytes.subspan(static_cast<std::size_t>(n)), offset += static_cast<std::uint64_t>(n);
    }
    return {};
}

// The logs at `paths`, copied into `copies` and named in `logs` for the replay. A log there that
// cannot be read is never passed over: its entries may be the latest.
Result read_logs(const std::vector<std::string>& paths,
                 std::vector<std::unique_ptr<InputCopy>>& copies, std::vector<format::LogInput>& logs) {
    for (const auto& path : paths) {
        const std::string name = split_path(path).name;
        int fd = -1;
        Result read = open_regular_file(path, O_RDONLY, fd);
        if (read.ok()) {
            copies.push_back(std::make_unique<InputCopy>(fd));
            close(fd);
            read = copies.back()->result();
        }
        if (!read.ok())
            return {read.code(),
                    "is dirty, and its transaction log " + name + " " + read.message()};
        logs.push_back({name, copies.back()->bytes()});
    }
    return {};
}

// Makes the recovered hive of `replay` in the primary's own copy, which holds its kept bins data
// in place already: cut to those (what follows is zeros, then the pages written over it), grown
// to the recovered hive's size, the rest written, and sealed, as `recovered`, a descriptor of its
// own. The copy's mapping is not read from here on.
Result make_recovered_hive(const InputCopy& primary, const format::Replay& replay, int& recovered) {
    recovered = dup(primary.fd());
    const format::Bytes kept = primary.bytes();
    const auto cut = [&](std::uint64_t size) {
        return ftruncate(recovered, static_cast<off_t>(size)) != 0 ? failed(kCannotHold, errno)
                                                                   : Result();
    };
    Result made =
        recovered < 0 ? failed(kCannotHold, errno) : cut(format::kBaseBlockSize + replay.kept);
    if (made.ok()) made = cut(replay.size);
    if (made.ok())
        emit_recovered(kept, replay, [&](std::uint64_t at, format::Bytes bytes) {
            if (at < kept.size() && bytes.data() == kept.data() + at) return true;  // in place
            return (made = write_at(recovered, at, bytes)).ok();
        });
    if (made.ok() && fcntl(recovered, F_ADD_SEALS, kInputSeals) != 0)
        made = failed(kCannotHold, errno);
    return made;
}

}  // namespace

Result LoadedHive::load_replayed(const std::string& file) {
    // Where nothing is replayed, the checks' words stand; a dirty file that no longer reads as
    // one changed under this run.
    const Result checked =
        state_.damage.empty() ? failed("cannot be read", EIO) : Result::refused(state_.damage);
    struct stat st;
    std::uint8_t head[format::kBaseBlockSize];
    if (fstat(file_, &st) != 0 || st.st_size < static_cast<off_t>(2 * format::kBaseBlockSize) ||
        pread(file_, head, sizeof(head), 0) != static_cast<ssize_t>(sizeof(head)))
        return checked;
    const format::PrimaryState primary_state = format::primary_state({head, sizeof(head)});
    if (primary_state == format::PrimaryState::kClean) return checked;
    const std::vector<std::string> paths = transaction_logs(file);
    if (primary_state == format::PrimaryState::kDamaged && std::memcmp(head, "regf", 4) != 0 &&
        paths.empty())
        return checked;  // not a hive at all, as the checks say

    // All of it that bins data could fill: a log's base block may declare bins that the
    // primary's own does not yet. Not sealed: the recovered hive is made in it, in place.
    const InputCopy primary(file_, format::kBaseBlockSize + format::kMaxBinsSize, false);
    if (!primary.result().ok()) return primary.result();
    std::vector<std::unique_ptr<InputCopy>> copies;  // the logs' bytes, held for the replay
    std::vector<format::LogInput> logs;
    if (const Result read = read_logs(paths, copies, logs); !read.ok()) return read;
    const format::Replay replay = format::replay_logs(primary.bytes(), logs);
    if (replay.outcome == format::Replay::Outcome::kRefused) return Result::refused(replay.refusal);
    if (replay.outcome == format::Replay::Outcome::kClean) return checked;  // it changed under this run
    if (const Result made = make_recovered_hive(primary, replay, recovered_); !made.ok())
        return made;
    summary_ = replay_summary(replay);
    state_ = inspect_hive_file(recovered_);
    return state_.damage.empty() ? Result()
                                 : Result::refused("with its logs replayed, it " + state_.damage);
}

}  // namespace endpointfix::offline
