// What the replay's files share: the replay under way, which each log format's replay carries on
// from the base block it starts from. Not part of the replay's interface.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "registry/format/little_endian.h"
#include "registry/format/log_replay.h"
#include "registry/result.h"

namespace endpointfix::format::detail {

inline constexpr std::size_t kLogBase = kLogBaseSize;  // a log's entries follow its base block

// A log that can be used, and its base block.
struct Usable {
    const LogInput* log;
    BaseBlock base;
};

// Bytes of a log that go to an offset in the bins data.
struct Page {
    std::uint64_t offset;
    Bytes bytes;
};

// A replay under way: the base block it starts from, the size of the bins data, how much of it
// is the primary's, and what it writes. Every byte of the bins data is the primary's or written:
// what the recovered hive grows by must come with the pages that fill it.
class Replayer {
public:
    Replayer(Bytes primary, std::string damage) : primary_(primary), damage_(std::move(damage)) {}

    Replay refuse(const std::string& why) const;

    // Starts from the primary's base block, or from a log's copy where it is damaged; checks
    // the bins size it declares against the primary. With `grown` (an old-format log's copy
    // holds the size the hive has grown to since) a shorter primary is no fault: the recovered
    // hive then starts with what the primary holds. Done, or refused saying why not.
    Result start(const std::uint8_t* base, bool grown = false);

    std::uint32_t sequence() const { return sequence_; }  // the base block's second number
    std::uint32_t flags() const { return flags_; }
    void set_flags(std::uint32_t flags) { flags_ = flags; }
    std::uint64_t kept() const { return kept_; }  // bytes of bins data from the primary

    // Takes the bins data to `bins` bytes and writes `pages` over it, in order; refuses, leaving
    // all as it was, where the pages do not hold all that it grows by. Done, or refused saying
    // why not.
    Result enter(std::uint64_t bins, std::span<const Page> pages);

    Replay finish(std::uint32_t sequence, Replay r);

private:
    Bytes primary_;
    std::string damage_;
    std::vector<std::uint8_t> base_;
    std::uint32_t sequence_ = 0, flags_ = 0;
    std::uint64_t bins_ = 0, kept_ = 0;
    // Written over the recovered hive in order; cut at its end when it is built, which is all a
    // shrink needs: what a later entry grows it by again, its pages cover afresh.
    std::vector<RecoveredWrite> writes_;
    std::vector<std::pair<std::uint64_t, std::uint64_t>> spans_;  // enter's, kept for reuse
};

// New format: the logs' entries, in the order of their sequence numbers, from the first that
// continues the hive, over the base block `replayer` has started from; `others` says why the
// logs left out could not be used.
Replay replay_new(Replayer& replayer, std::vector<Usable> logs, const std::string& others,
                  Replay r);

// Old format: the dirty pages of the first log, LOG1 (or LOG) before LOG2, that applies; the
// replay starts from the primary's base block, or from the log's copy where it is `mended`.
// `reasons` says why the logs left out could not be used.
Replay replay_old(Replayer& replayer, std::vector<Usable> logs, Bytes primary, bool mended,
                  std::string reasons, Replay r);

}  // namespace endpointfix::format::detail
