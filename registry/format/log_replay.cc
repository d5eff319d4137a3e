#include "registry/format/log_replay.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "registry/format/log_replay_internal.h"

namespace endpointfix::format {
namespace {

using detail::kLogBase;
using detail::replay_new;
using detail::replay_old;
using detail::Replayer;
using detail::Usable;

// Whether a log can be used at all, from its copy of the base block: refused, saying why, where
// it cannot.
Result usable(const BaseBlock& b) {
    switch (b.fault) {
        case BaseBlock::Fault::kEmpty:
            return Result::refused("empty");
        case BaseBlock::Fault::kNoSignature:
            return Result::refused("not a transaction log (no regf signature)");
        case BaseBlock::Fault::kShort:
            return Result::refused("shorter than a base block");
        case BaseBlock::Fault::kWrongChecksum:
            return Result::refused("the checksum of its base block is wrong");
        case BaseBlock::Fault::kNone:
            break;
    }
    if (b.dirty()) return Result::refused("the sequence numbers of its base block differ");
    if (b.file_type != 1 && b.file_type != 6)
        return Result::refused("unknown file type " + std::to_string(b.file_type));
    return {};
}

std::string plural(std::uint32_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

}  // namespace

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
                 : parse_base_block(primary, kBaseBlockSize).fault == BaseBlock::Fault::kWrongChecksum
                     ? "has a damaged base block (wrong checksum)"
                     : "has a damaged base block (no regf signature)";
    Replayer replayer(primary, damage);
    if (logs.empty())
        return replayer.refuse(damage.empty() ? "no transaction log stands beside it to replay"
                                              : "no transaction log stands beside it to mend it");
    if (primary.size() < kBaseBlockSize) return replayer.refuse("no log can mend that");
    std::vector<Usable> fresh, old;
    std::string reasons;
    for (const auto& log : logs) {
        const BaseBlock base = parse_base_block(log.bytes, kLogBase);
        if (const Result use = usable(base); !use.ok()) {
            reasons += (reasons.empty() ? "" : "; ") + log.name + ": " + use.message();
            continue;
        }
        (base.file_type == 6 ? fresh : old).push_back({&log, base});
    }
    if (fresh.empty() && old.empty())
        return replayer.refuse("none of its logs can be used: " + reasons);
    if (fresh.empty()) return replay_old(replayer, old, primary, !damage.empty(), reasons, {});
    // New format: the base block from the primary, or from the latest log's copy.
    const Usable* latest = &fresh.front();
    for (const auto& u : fresh)
        if (u.base.sequence1 > latest->base.sequence1) latest = &u;
    if (const Result started =
            replayer.start(damage.empty() ? primary.data() : latest->log->bytes.data());
        !started.ok())
        return replayer.refuse(started.message());
    return replay_new(replayer, fresh, reasons, {});
}

bool emit_recovered(Bytes primary, const Replay& replay, const RecoveredPieceWriter& emit) {
    if (!emit(0, replay.base_block) ||
        !emit(kBaseBlockSize, primary.subspan(kBaseBlockSize, replay.kept)))
        return false;
    for (const auto& w : replay.writes)
        if (w.offset < replay.size && !emit(w.offset, w.bytes.first(std::min<std::uint64_t>(
                                                          w.bytes.size(), replay.size - w.offset))))
            return false;
    return true;
}

std::vector<std::uint8_t> recovered_hive(Bytes primary, const Replay& replay) {
    std::vector<std::uint8_t> hive(replay.size);
    emit_recovered(primary, replay, [&](std::uint64_t at, Bytes bytes) {
        std::copy(bytes.begin(), bytes.end(), hive.begin() + static_cast<std::ptrdiff_t>(at));
        return true;
    });
    return hive;
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

}  // namespace endpointfix::format
