// New format: the HvLE entries of Windows 8.1 and later, each hashed, numbered and carrying whole
// pages of bins data and the bins size, replayed log after log in the order of their numbers.
#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "registry/format/log_entry.h"
#include "registry/format/log_replay_internal.h"

namespace endpointfix::format::detail {

Replay replay_new(Replayer& replayer, std::vector<Usable> logs, const std::string& others,
                  Replay r) {
    std::stable_sort(logs.begin(), logs.end(), [](const Usable& a, const Usable& b) {
        return a.base.sequence1 < b.base.sequence1;
    });
    // The first log whose first entry carries its base block's number, not below the primary's.
    const std::uint32_t floor = replayer.sequence();
    std::size_t i = 0;
    for (; i < logs.size(); ++i) {
        const auto first = read_entry_header(logs[i].log->bytes, kLogBase);
        if (first && first->sequence == logs[i].base.sequence1 && logs[i].base.sequence1 >= floor)
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
            const auto first = read_entry_header(log, kLogBase);
            if (!first || first->sequence != expected) break;
        }
        std::uint64_t at = kLogBase;
        for (std::uint32_t index = 1;; ++index) {
            // The end of what this log holds: its end, bytes that are no entry, or an entry
            // left from before, with a lower number.
            const auto entry = read_entry_header(log, at);
            if (!entry || entry->sequence - expected >= 0x80000000u) break;
            Result sound = check_entry(log, at, *entry, expected, pages);
            if (sound.ok()) sound = replayer.enter(entry->bins_size, pages);
            if (!sound.ok()) {
                r.stopped = "entry " + std::to_string(index) + " of " + logs[i].log->name +
                            " (at byte " + std::to_string(at) + "): " + sound.message();
                break;
            }
            flags = (flags & ~1u) | (entry->flags & 1u);
            if (r.logs_used.empty() || r.logs_used.back() != logs[i].log->name)
                r.logs_used.push_back(logs[i].log->name);
            ++r.applied;
            ++expected;
            at += entry->size;
        }
    }
    if (r.applied == 0)
        return replayer.refuse("the first entry that would continue it cannot be applied: " +
                               r.stopped);
    replayer.set_flags(flags);
    return replayer.finish(expected - 1, std::move(r));
}

}  // namespace endpointfix::format::detail
