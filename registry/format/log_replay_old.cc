// Old format: the logs of Windows Vista to 8, a copy of the base block, a dirty vector (DIRT) with
// a bit for each 512-byte page of bins data, and the dirty pages it names, in order.
#include <strings.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "registry/format/log_replay_internal.h"

namespace endpointfix::format::detail {
namespace {

bool ends_no_case(const std::string& name, const char* suffix) {
    const std::size_t n = std::strlen(suffix);
    return name.size() >= n && strcasecmp(name.c_str() + name.size() - n, suffix) == 0;
}

}  // namespace

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
        const std::uint64_t bins = candidate.base.bins_size;
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
        if (const Result started = replayer.start(mended ? log.data() : primary.data(), mended);
            !started.ok())
            return replayer.refuse(started.message());
        // Bin by bin, each bin that holds a dirty page checked as it will be.
        const auto header = [&](std::uint64_t at, std::size_t next) -> const std::uint8_t* {
            if (next < dirty.size() && dirty[next] == at) return log.data() + first + 512 * next;
            return at + 32 <= replayer.kept() ? primary.data() + kBaseBlockSize + at : nullptr;
        };
        std::vector<Page> pages;
        std::size_t next = 0;
        for (std::uint64_t at = 0; next < dirty.size();) {
            const std::uint8_t* h = header(at, next);
            const std::uint64_t size = h ? read_le32(h + 8) : 0;
            if (h == nullptr || std::memcmp(h, "hbin", 4) != 0 || read_le32(h + 4) != at ||
                size < 4096 || size % 4096 != 0 || size > bins - at) {
                r.stopped = "the hive bin at bins offset " + std::to_string(at) + " is not sound";
                break;
            }
            for (; next < dirty.size() && dirty[next] < at + size; ++next, ++r.applied)
                pages.push_back({dirty[next], log.subspan(first + 512 * next, 512)});
            at += size;
        }
        if (r.applied == 0 && !dirty.empty())
            return replayer.refuse("the first bin its log " + candidate.log->name +
                                   " would change is not sound: " + r.stopped);
        if (const Result entered = replayer.enter(bins, pages); !entered.ok())
            return replayer.refuse("its log " + candidate.log->name +
                                   " cannot be applied: " + entered.message());
        r.old_format = true;
        r.logs_used = {candidate.log->name};
        return replayer.finish(candidate.base.sequence1, std::move(r));
    }
    return replayer.refuse("none of its logs can be replayed: " + reasons);
}

}  // namespace endpointfix::format::detail
