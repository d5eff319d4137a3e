// New format: the HvLE entries of Windows 8.1 and later, each hashed, numbered and carrying whole
// pages of bins data and the bins size, replayed log after log in the order of their numbers.
#include <algorithm>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "offline/format/log_replay_internal.h"
#include "offline/format/marvin32.h"

namespace endpointfix::offline::detail {
namespace {

// The pages of the new-format entry at `at` of `log`, checked; empty, or why it is not sound.
std::string check_entry(Bytes log, std::uint64_t at, std::uint32_t expected,
                        std::vector<Page>& pages, std::uint64_t& size) {
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
        pages.push_back({offset, Bytes(e + data, length)});
        data += length;
    }
    return {};
}

}  // namespace

Replay replay_new(Replayer& replayer, std::vector<Usable> logs, const std::string& others,
                  Replay r) {
    std::stable_sort(logs.begin(), logs.end(), [](const Usable& a, const Usable& b) {
        return a.base.sequence1 < b.base.sequence1;
    });
    // The first log whose first entry carries its base block's number, not below the primary's.
    const std::uint32_t floor = replayer.sequence();
    const auto first_entry = [](Bytes b) -> const std::uint8_t* {
        return b.size() >= kLogBase + kEntryHeader &&
                       std::memcmp(b.data() + kLogBase, "HvLE", 4) == 0
                   ? b.data() + kLogBase
                   : nullptr;
    };
    std::size_t i = 0;
    for (; i < logs.size(); ++i) {
        const std::uint8_t* e = first_entry(logs[i].log->bytes);
        if (e != nullptr && u32(e + 12) == logs[i].base.sequence1 &&
            logs[i].base.sequence1 >= floor)
            break;
    }
    if (i == logs.size()) {
        std::string held;
        for (const auto& l : logs)
            held += (held.empty() ? "" : ", ") + l.log->name + " from sequence number " +
                    std::to_string(l.base.sequence1);
        return replayer.refuse("no entry of its logs continues it (" + held + "; the hive is at " +
                               std::to_string(floor) +
                               "): they hold only changes it already has, or none" +
                               (others.empty() ? "" : "; " + others));
    }
    std::uint32_t expected = logs[i].base.sequence1;
    std::uint32_t flags = replayer.flags();
    std::vector<Page> pages;
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
            std::string why = check_entry(log, at, expected, pages, size);
            if (why.empty()) why = replayer.enter(u32(log.data() + at + 16), pages);
            if (!why.empty()) {
                r.stopped = "entry " + std::to_string(index) + " of " + logs[i].log->name +
                            " (at byte " + std::to_string(at) + "): " + why;
                break;
            }
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
    replayer.set_flags(flags);
    return replayer.finish(expected - 1, std::move(r));
}

}  // namespace endpointfix::offline::detail
