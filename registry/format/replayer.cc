#include <algorithm>
#include <cstring>
#include <string>

#include "registry/format/log_replay_internal.h"

namespace endpointfix::format::detail {

Replay Replayer::refuse(const std::string& why) const {
    Replay r;
    r.refusal = (damage_.empty() ? std::string("is dirty") : damage_) + ", and " + why;
    return r;
}

Result Replayer::start(const std::uint8_t* base, bool grown) {
    base_.assign(kBaseBlockSize, 0);
    std::memcpy(base_.data(), base, damage_.empty() ? kBaseBlockSize : kLogBase);
    const BaseBlock b = parse_base_block({base, kLogBase}, kLogBase);
    sequence_ = b.sequence2, flags_ = b.flags, bins_ = b.bins_size;
    if (!sound_bins_size(bins_))
        return Result::refused("the size of its bins in its base block is unsound");
    kept_ = std::min<std::uint64_t>(bins_, (primary_.size() - kBaseBlockSize) / 4096 * 4096);
    if (kept_ < bins_ && !grown)
        return Result::refused("the hive file is shorter than its base block declares");
    bins_ = kept_;
    return {};
}

Result Replayer::enter(std::uint64_t bins, std::span<const Page> pages) {
    if (bins > bins_) {
        // What the pages hold of [bins_, bins), in order of offset; a gap is bins data that
        // nothing holds.
        spans_.clear();
        for (const auto& p : pages)
            if (p.offset + p.bytes.size() > bins_)
                spans_.emplace_back(std::max(p.offset, bins_), p.offset + p.bytes.size());
        std::sort(spans_.begin(), spans_.end());
        std::uint64_t reached = bins_;
        for (const auto& [from, to] : spans_)
            if (from <= reached) reached = std::max(reached, to);
        if (reached < bins)
            return Result::refused("it declares " + std::to_string(bins) +
                                   " bytes of bins data, but neither the hive file nor a page of "
                                   "its log holds those at bins offset " +
                                   std::to_string(reached));
    }
    bins_ = bins;
    kept_ = std::min(kept_, bins);
    for (const auto& p : pages) writes_.push_back({kBaseBlockSize + p.offset, p.bytes});
    return {};
}

Replay Replayer::finish(std::uint32_t sequence, Replay r) {
    write_le32(&base_[kFileType], 0);
    write_le32(&base_[kSequence1], sequence);
    write_le32(&base_[kSequence2], sequence);
    write_le32(&base_[kBins], static_cast<std::uint32_t>(bins_));
    write_le32(&base_[kFlags], flags_);
    write_le32(&base_[kChecksum], base_block_checksum(base_.data()));
    r.outcome = Replay::Outcome::kRecovered;
    r.base_block = std::move(base_);
    r.size = kBaseBlockSize + bins_;
    r.kept = kept_;
    r.writes = std::move(writes_);
    r.mended = !damage_.empty();
    return r;
}

}  // namespace endpointfix::format::detail
