// What the replay's files share: the base block's fields, the little-endian reads and writes, and
// the replay under way, which each log format's replay carries on from the base block it starts
// from. Not part of the replay's interface.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "offline/log_replay.h"

namespace endpointfix::offline::detail {

// Base-block fields.
inline constexpr std::size_t kSequence1 = 4, kSequence2 = 8, kStamp = 12, kFileType = 28,
                             kBins = 0x28, kFlags = 0x90, kChecksum = 0x1fc;
inline constexpr std::size_t kLogBase = 512;  // a log's copy of the base block; then its entries
inline constexpr std::size_t kEntryHeader = 40;

inline std::uint32_t u32(const std::uint8_t* p) {
    return p[0] | p[1] << 8 | p[2] << 16 | std::uint32_t{p[3]} << 24;
}
inline std::uint64_t u64(const std::uint8_t* p) { return u32(p) | std::uint64_t{u32(p + 4)} << 32; }
inline void put32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> 8 * i);
}

inline bool sound_bins_size(std::uint64_t size) {
    return size != 0 && size % 4096 == 0 && size <= kMaxBinsSize;
}

// A log that can be used, and the sequence number of its base block.
struct Usable {
    const LogInput* log;
    std::uint32_t sequence;
};

// A replay under way: the base block it starts from and what it writes.
class Replayer {
public:
    Replayer(Bytes primary, std::string damage) : primary_(primary), damage_(std::move(damage)) {}

    Replay refuse(const std::string& why) const {
        Replay r;
        r.refusal = (damage_.empty() ? std::string("is dirty") : damage_) + ", and " + why;
        return r;
    }

    // Starts from the primary's base block, or from a log's copy where it is damaged; checks
    // the bins size it declares against the primary (unless `grown`: an old-format log's copy
    // holds the size the hive has grown to since). Empty, or why not.
    std::string start(const std::uint8_t* base, bool grown = false) {
        base_.assign(kBaseBlockSize, 0);
        std::memcpy(base_.data(), base, damage_.empty() ? kBaseBlockSize : kLogBase);
        put32(&base_[kFileType], 0);
        bins_ = u32(&base_[kBins]);
        if (!sound_bins_size(bins_)) return "the size of its bins in its base block is unsound";
        kept_ = std::min<std::uint64_t>(bins_, (primary_.size() - kBaseBlockSize) / 4096 * 4096);
        if (kept_ < bins_ && !grown) return "the hive file is shorter than its base block declares";
        return {};
    }

    // Grows or shrinks the image to `bins` bytes of bins data.
    void resize(std::uint64_t bins) {
        if (bins < bins_) {
            const std::uint64_t end = kBaseBlockSize + bins;
            std::vector<ImageWrite> kept;
            for (const auto& w : writes_)
                if (w.offset < end)
                    kept.push_back({w.offset, w.bytes.first(std::min<std::uint64_t>(
                                                  w.bytes.size(), end - w.offset))});
            writes_.swap(kept);
            kept_ = std::min(kept_, bins);
        }
        bins_ = bins;
    }

    void write(std::uint64_t bins_offset, Bytes bytes) {
        writes_.push_back({kBaseBlockSize + bins_offset, bytes});
    }

    Replay finish(std::uint32_t sequence, Replay r) {
        put32(&base_[kSequence1], sequence);
        put32(&base_[kSequence2], sequence);
        put32(&base_[kBins], static_cast<std::uint32_t>(bins_));
        put32(&base_[kChecksum], base_block_checksum(base_.data()));
        r.outcome = Replay::Outcome::kRecovered;
        r.base_block = std::move(base_);
        r.size = kBaseBlockSize + bins_;
        r.kept = kept_;
        r.writes = std::move(writes_);
        r.mended = !damage_.empty();
        r.sequence = sequence;
        return r;
    }

    std::vector<std::uint8_t> base_;
    std::uint64_t bins_ = 0, kept_ = 0;

private:
    Bytes primary_;
    std::string damage_;
    std::vector<ImageWrite> writes_;
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

}  // namespace endpointfix::offline::detail
