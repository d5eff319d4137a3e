#include "offline/log_replay.h"

#include <strings.h>

#include <algorithm>
#include <cstring>

#include "offline/marvin32.h"

namespace endpointfix::offline {
namespace {

// Base-block fields.
constexpr std::size_t kSequence1 = 4, kSequence2 = 8, kStamp = 12, kFileType = 28, kBins = 0x28,
                      kFlags = 0x90, kChecksum = 0x1fc;
constexpr std::size_t kLogBase = 512;  // a log's copy of the base block; then its entries
constexpr std::size_t kEntryHeader = 40;

std::uint32_t u32(const std::uint8_t* p) {
    return p[0] | p[1] << 8 | p[2] << 16 | std::uint32_t{p[3]} << 24;
}
std::uint64_t u64(const std::uint8_t* p) { return u32(p) | std::uint64_t{u32(p + 4)} << 32; }
void put32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> 8 * i);
}

bool sound_bins_size(std::uint64_t size) {
    return size != 0 && size % 4096 == 0 && size <= kMaxBinsSize;
}

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

bool ends_no_case(const std::string& name, const char* suffix) {
    const std::size_t n = std::strlen(suffix);
    return name.size() >= n && strcasecmp(name.c_str() + name.size() - n, suffix) == 0;
}

std::string plural(std::uint32_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

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

// The pages of the new-format entry at `at` of `log`, checked; empty, or why it is not sound.
std::string check_entry(Bytes log, std::uint64_t at, std::uint32_t expected,
                        std::vector<std::pair<std::uint64_t, Bytes>>& pages, std::uint64_t& size) {
    const std::uint8_t* e = log.data() + at;
    const std::uint64_t room = log.size() - at;
    size = u32(e + 4);
    if (size == 0 || size % 512 != 0)
        return "its size (" + std::to_string(size) + " bytes) is not a multiple of 512";
    if (size > room) return "it runs past the end of the log";
    if (u32(e + 12) != expected)
        return "its sequence number " + std::to_string(u32(e + 12)) + " does not follow " +
               std::to_string(expected - 1);
    const std::uint64_t bins = u32(e + 16);
    if (!sound_bins_size(bins))
        return "the bins data size it gives (" + std::to_string(bins) +
               " bytes) is not a multiple of 4096 up to 2 GiB";
    if (marvin32(e + kEntryHeader, size - kEntryHeader) != u64(e + 24) ||
        marvin32(e, 32) != u64(e + 32))
        return "its hash is wrong";
    const std::uint64_t count = u32(e + 20);
    std::uint64_t data = kEntryHeader + 8 * count;
    if (data > size) return "its page count (" + std::to_string(count) + ") overruns it";
    pages.clear();
    for (std::uint64_t k = 0; k < count; ++k) {
        const std::uint64_t offset = u32(e + kEntryHeader + 8 * k),
                            length = u32(e + kEntryHeader + 8 * k + 4);
        const std::string page = "its page " + std::to_string(k + 1);
        if (length == 0 || length % 4096 != 0 || offset % 4096 != 0)
            return page + " has an offset or size that is not a multiple of 4096";
        if (offset + length > bins) return page + " lies outside the bins data";
        if (length > size - data) return page + " runs past the end of the entry";
        pages.emplace_back(offset, Bytes(e + data, length));
        data += length;
    }
    return {};
}

Replay replay_new(Replayer& replayer, std::vector<Usable> logs, const std::string& others,
                  Replay r) {
    std::stable_sort(logs.begin(), logs.end(),
                     [](const Usable& a, const Usable& b) { return a.sequence < b.sequence; });
    // The first log whose first entry carries its base block's number, not below the primary's.
    const std::uint32_t floor = u32(&replayer.base_[kSequence2]);
    const auto first_entry = [](Bytes b) -> const std::uint8_t* {
        return b.size() >= kLogBase + kEntryHeader &&
                       std::memcmp(b.data() + kLogBase, "HvLE", 4) == 0
                   ? b.data() + kLogBase
                   : nullptr;
    };
    std::size_t i = 0;
    for (; i < logs.size(); ++i) {
        const std::uint8_t* e = first_entry(logs[i].log->bytes);
        if (e != nullptr && u32(e + 12) == logs[i].sequence && logs[i].sequence >= floor) break;
    }
    if (i == logs.size()) {
        std::string held;
        for (const auto& l : logs)
            held += (held.empty() ? "" : ", ") + l.log->name + " from sequence number " +
                    std::to_string(l.sequence);
        return replayer.refuse("no entry of its logs continues it (" + held + "; the hive is at " +
                               std::to_string(floor) +
                               "): they hold only changes it already has, or none" +
                               (others.empty() ? "" : "; " + others));
    }
    std::uint32_t expected = logs[i].sequence;
    std::uint32_t flags = u32(&replayer.base_[kFlags]);
    std::vector<std::pair<std::uint64_t, Bytes>> pages;
    for (bool first_log = true; i < logs.size() && r.stopped.empty(); ++i, first_log = false) {
        const Bytes log = logs[i].log->bytes;
        if (!first_log) {
            const std::uint8_t* e = first_entry(log);
            if (e == nullptr || u32(e + 12) != expected) break;
        }
        std::uint64_t at = kLogBase;
        for (std::uint32_t index = 1;; ++index) {
            // The end of what this log holds: its end, bytes that are no entry, or an entry
            // left from before, with a lower number.
            if (log.size() - at < kEntryHeader || std::memcmp(log.data() + at, "HvLE", 4) != 0 ||
                u32(log.data() + at + 12) - expected >= 0x80000000u)
                break;
            std::uint64_t size = 0;
            const std::string why = check_entry(log, at, expected, pages, size);
            if (!why.empty()) {
                r.stopped = "entry " + std::to_string(index) + " of " + logs[i].log->name +
                            " (at byte " + std::to_string(at) + "): " + why;
                break;
            }
            replayer.resize(u32(log.data() + at + 16));
            for (const auto& [offset, bytes] : pages) replayer.write(offset, bytes);
            flags = (flags & ~1u) | (u32(log.data() + at + 8) & 1u);
            if (r.logs_used.empty() || r.logs_used.back() != logs[i].log->name)
                r.logs_used.push_back(logs[i].log->name);
            ++r.applied;
            ++expected;
            at += size;
        }
    }
    if (r.applied == 0)
        return replayer.refuse("the first entry that would continue it cannot be applied: " +
                               r.stopped);
    put32(&replayer.base_[kFlags], flags);
    return replayer.finish(expected - 1, std::move(r));
}

// Old format: the first log, LOG1 (or LOG) before LOG2, that applies.
Replay replay_old(Replayer& replayer, std::vector<Usable> logs, Bytes primary, bool mended,
                  std::string reasons, Replay r) {
    const auto rank = [](const Usable& u) {
        const std::string& n = u.log->name;
        return ends_no_case(n, ".LOG1") ? 0 : ends_no_case(n, ".LOG") ? 1 : 2;
    };
    std::stable_sort(logs.begin(), logs.end(),
                     [&](const Usable& a, const Usable& b) { return rank(a) < rank(b); });
    for (const auto& candidate : logs) {
        const Bytes log = candidate.log->bytes;
        const auto reject = [&](const std::string& why) {
            reasons += (reasons.empty() ? "" : "; ") + candidate.log->name + ": " + why;
        };
        const std::uint64_t bins = u32(log.data() + kBins);
        // The primary's timestamp, or where its base block is damaged, its first bin's.
        const std::uint8_t* stamp = nullptr;
        if (!mended)
            stamp = primary.data() + kStamp;
        else if (primary.size() >= kBaseBlockSize + 28)
            stamp = primary.data() + kBaseBlockSize + 20;
        if (!sound_bins_size(bins)) {
            reject("the size of its bins is unsound");
            continue;
        }
        const std::uint64_t bitmap = bins / 4096, first = (kLogBase + 4 + bitmap + 511) / 512 * 512;
        if (log.size() < kLogBase + 4 + bitmap || std::memcmp(log.data() + kLogBase, "DIRT", 4)) {
            reject("no dirty vector (DIRT) after its base block");
            continue;
        }
        std::vector<std::uint64_t> dirty;  // bins offsets; at most a bit per 512 bytes of log
        const std::uint8_t* bits = log.data() + kLogBase + 4;
        for (std::uint64_t b = 0; b < bins / 512 && log.size() >= first + 512 * dirty.size(); ++b)
            if (bits[b / 8] >> b % 8 & 1) dirty.push_back(512 * b);
        if (log.size() < first + 512 * dirty.size()) {
            reject("shorter than the dirty pages its vector names");
            continue;
        }
        if (stamp == nullptr || std::memcmp(log.data() + kStamp, stamp, 8) != 0) {
            reject("its timestamp does not match the hive's, so it belongs to another state");
            continue;
        }
        if (const std::string why = replayer.start(mended ? log.data() : primary.data(), mended);
            !why.empty())
            return replayer.refuse(why);
        replayer.kept_ = std::min(replayer.kept_, bins);
        replayer.bins_ = bins;
        // Bin by bin, each bin that holds a dirty page checked as it will be.
        const auto header = [&](std::uint64_t at, std::size_t next) -> const std::uint8_t* {
            if (next < dirty.size() && dirty[next] == at) return log.data() + first + 512 * next;
            return at + 32 <= replayer.kept_ ? primary.data() + kBaseBlockSize + at : nullptr;
        };
        std::size_t next = 0;
        for (std::uint64_t at = 0; next < dirty.size();) {
            const std::uint8_t* h = header(at, next);
            const std::uint64_t size = h ? u32(h + 8) : 0;
            if (h == nullptr || std::memcmp(h, "hbin", 4) != 0 || u32(h + 4) != at || size < 4096 ||
                size % 4096 != 0 || size > bins - at) {
                r.stopped = "the hive bin at bins offset " + std::to_string(at) + " is not sound";
                break;
            }
            for (; next < dirty.size() && dirty[next] < at + size; ++next, ++r.applied)
                replayer.write(dirty[next], log.subspan(first + 512 * next, 512));
            at += size;
        }
        if (r.applied == 0 && !dirty.empty())
            return replayer.refuse("the first bin its log " + candidate.log->name +
                                   " would change is not sound: " + r.stopped);
        r.old_format = true;
        r.logs_used = {candidate.log->name};
        return replayer.finish(candidate.sequence, std::move(r));
    }
    return replayer.refuse("none of its logs can be replayed: " + reasons);
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
