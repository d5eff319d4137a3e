#include "offline/log_replay.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "offline/log_replay_internal.h"

namespace endpointfix::offline {
namespace {

using detail::kChecksum;
using detail::kFileType;
using detail::kLogBase;
using detail::kSequence1;
using detail::kSequence2;
using detail::replay_new;
using detail::replay_old;
using detail::Replayer;
using detail::u32;
using detail::Usable;

// Why a log cannot be used at all, from its copy of the base block; empty where it can.
std::string unusable(Bytes log) {
    if (log.empty()) return "empty";
    if (log.size() < kLogBase) return "shorter than a base block";
    if (std::memcmp(log.data(), "regf", 4) != 0) return "not a transaction log (no regf signature)";
    if (base_block_checksum(log.data()) != u32(log.data() + kChecksum))
        return "the checksum of its base block is wrong";
    if (u32(log.data() + kSequence1) != u32(log.data() + kSequence2))
        return "the sequence numbers of its base block differ";
    const std::uint32_t type = u32(log.data() + kFileType);
    if (type != 1 && type != 6) return "unknown file type " + std::to_string(type);
    return {};
}

std::string plural(std::uint32_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

}  // namespace

std::uint32_t base_block_checksum(const std::uint8_t* block) {
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i < 508; i += 4) sum ^= u32(block + i);
    return sum == 0 ? 1 : sum == 0xffffffff ? 0xfffffffe : sum;
}

PrimaryState primary_state(Bytes primary) {
    if (primary.size() < kBaseBlockSize || std::memcmp(primary.data(), "regf", 4) != 0 ||
        base_block_checksum(primary.data()) != u32(primary.data() + kChecksum))
        return PrimaryState::kDamaged;
    return u32(primary.data() + kSequence1) != u32(primary.data() + kSequence2)
               ? PrimaryState::kDirty
               : PrimaryState::kClean;
}

Replay replay_logs(Bytes primary, std::span<const LogInput> logs) {
    const PrimaryState state = primary_state(primary);
    if (state == PrimaryState::kClean) {
        Replay clean;
        clean.outcome = Replay::Outcome::kClean;
        return clean;
    }
    std::string damage;
    if (state == PrimaryState::kDamaged)
        damage = primary.size() < kBaseBlockSize ? "is shorter than a base block"
                 : std::memcmp(primary.data(), "regf", 4) != 0
                     ? "has a damaged base block (no regf signature)"
                     : "has a damaged base block (wrong checksum)";
    Replayer replayer(primary, damage);
    if (logs.empty())
        return replayer.refuse(damage.empty() ? "no transaction log stands beside it to replay"
                                              : "no transaction log stands beside it to mend it");
    if (primary.size() < kBaseBlockSize) return replayer.refuse("no log can mend that");
    std::vector<Usable> fresh, old;
    std::string reasons;
    for (const auto& log : logs) {
        if (const std::string why = unusable(log.bytes); !why.empty()) {
            reasons += (reasons.empty() ? "" : "; ") + log.name + ": " + why;
            continue;
        }
        const Usable u{&log, u32(log.bytes.data() + kSequence1)};
        (u32(log.bytes.data() + kFileType) == 6 ? fresh : old).push_back(u);
    }
    if (fresh.empty() && old.empty())
        return replayer.refuse("none of its logs can be used: " + reasons);
    if (fresh.empty()) return replay_old(replayer, old, primary, !damage.empty(), reasons, {});
    // New format: the base block from the primary, or from the latest log's copy.
    const Usable* latest = &fresh.front();
    for (const auto& u : fresh)
        if (u.sequence > latest->sequence) latest = &u;
    if (const std::string why =
            replayer.start(damage.empty() ? primary.data() : latest->log->bytes.data());
        !why.empty())
        return replayer.refuse(why);
    return replay_new(replayer, fresh, reasons, {});
}

std::vector<std::uint8_t> recovered_image(Bytes primary, const Replay& replay) {
    std::vector<std::uint8_t> image(replay.size);
    std::copy(replay.base_block.begin(), replay.base_block.end(), image.begin());
    std::copy_n(primary.begin() + kBaseBlockSize, replay.kept, image.begin() + kBaseBlockSize);
    for (const auto& w : replay.writes) std::copy(w.bytes.begin(), w.bytes.end(), &image[w.offset]);
    return image;
}

std::string replay_summary(const Replay& replay) {
    std::string logs;
    for (const auto& name : replay.logs_used) logs += (logs.empty() ? "" : ", ") + name;
    std::string line =
        (replay.mended ? "damaged base block, taken from " + replay.logs_used.front() + "; "
                       : std::string("dirty; ")) +
        "replayed " +
        (replay.old_format ? plural(replay.applied, "dirty page", "dirty pages")
                           : plural(replay.applied, "log entry", "log entries")) +
        " from " + logs + ", as Windows does when it loads the hive";
    if (!replay.stopped.empty())
        line += "; replay stopped early, as Windows stops, at " + replay.stopped +
                " (what came before it is kept)";
    return line;
}

}  // namespace endpointfix::offline
