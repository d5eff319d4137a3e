// A dirty hive made from successive states of a hive: the primary (the first state's bytes, its
// sequence numbers apart) and LOG1 and LOG2 holding what changed from each state to the next, as
// Windows leaves them: in the new format, an entry (or a few, 64 pages
// to an entry) for each state after the first, so that a replay stopped between them leaves a
// state that was whole. Every page a state grows by is logged, changed or not, as Windows logs a
// new bin whole. Kinds:
//   split    new format: the first entries in LOG1, the rest in LOG2
//   swapped  the same, with the earlier entries in LOG2
//   one      every entry in LOG1, LOG2 empty
//   badhash  split, with a wrong hash in the first entry towards the last state
//   stale    split, the primary already past every entry
//   none     no logs at all
//   damaged  one, with the primary's base block wiped
//   old      old format (dirty vector, 512-byte pages from the first state to the last) in
//            LOG1, LOG2 empty
//   oldstamp old, its timestamp not the primary's
//   olddamaged old, with the primary's base block wiped
// `min_bytes`: at least that many bytes of pages logged towards the last state, unchanged ones
// added (for the benchmark).
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "registry/format/log_replay.h"
#include "registry/format/marvin32.h"

namespace endpointfix::test {

using Buffer = std::vector<std::uint8_t>;

struct DirtyHive {
    Buffer primary, logs[2];  // LOG1, LOG2
    std::uint32_t entries = 0;
};

namespace dirty {

inline std::uint32_t u32(const Buffer& b, std::size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | std::uint32_t{b[at + 3]} << 24;
}
inline void put32(Buffer& b, std::size_t at, std::uint64_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> 8 * i);
}
inline void put64(Buffer& b, std::size_t at, std::uint64_t v) {
    put32(b, at, v), put32(b, at + 4, v >> 32);
}
inline void seal(Buffer& b) { put32(b, 0x1fc, format::base_block_checksum(b.data())); }
// Hashes a new-format entry at `at` of `b` afresh.
inline void hash_entry(Buffer& b, std::size_t at) {
    const std::size_t size = u32(b, at + 4);
    put64(b, at + 24, format::marvin32(&b[at + 40], size - 40));
    put64(b, at + 32, format::marvin32(&b[at], 32));
}

// A log's base block: the primary's first 512 bytes as a log of `type` at `sequence`.
inline Buffer log_base(const Buffer& primary, std::uint32_t type, std::uint32_t sequence) {
    Buffer log(primary.begin(), primary.begin() + 512);
    put32(log, 4, sequence), put32(log, 8, sequence), put32(log, 28, type);
    seal(log);
    return log;
}

inline bool differ(const Buffer& a, const Buffer& b, std::size_t at, std::size_t n) {
    for (std::size_t i = at; i < at + n; ++i)
        if ((i < a.size() ? a[i] : 0) != (i < b.size() ? b[i] : 0)) return true;
    return false;
}

}  // namespace dirty

inline DirtyHive make_dirty_hive(const std::string& kind, const std::vector<Buffer>& states,
                                 std::size_t min_bytes = 0) {
    using namespace dirty;
    const Buffer &earlier = states.front(), &later = states.back();
    DirtyHive hive{earlier, {}, 0};
    const std::uint32_t seq = u32(earlier, 8), bins = u32(later, 0x28);
    if (kind.rfind("old", 0) == 0) {
        // A dirty vector over the later state's bins, then each dirty 512-byte page.
        Buffer log = log_base(earlier, 1, seq + 1);
        put32(log, 0x28, bins);
        if (kind == "oldstamp") log[12] ^= 1;
        if (kind == "olddamaged") std::memcpy(&log[12], &earlier[4096 + 20], 8);
        seal(log);
        log.resize((512 + 4 + bins / 4096 + 511) / 512 * 512);
        std::memcpy(&log[512], "DIRT", 4);
        for (std::size_t p = 0; p < bins / 512; ++p)
            if (differ(earlier, later, 4096 + 512 * p, 512) || 512 * p >= u32(earlier, 0x28)) {
                log[516 + p / 8] |= static_cast<std::uint8_t>(1 << p % 8);
                log.insert(log.end(), &later[4096 + 512 * p], &later[4096 + 512 * p + 512]);
                ++hive.entries;
            }
        hive.logs[0] = log;
    } else {
        std::vector<Buffer> built;
        std::size_t last_step = 0;  // the first entry towards the last state
        for (std::size_t step = 1; step < states.size(); ++step) {
            // The 4 KiB pages that changed or were added (and unchanged ones, up to min_bytes),
            // contiguous pages as one.
            const Buffer &from = states[step - 1], &to = states[step];
            const std::uint32_t to_bins = u32(to, 0x28);
            const bool last = step + 1 == states.size();
            std::vector<std::size_t> pages;
            for (std::size_t p = 0; p < to_bins; p += 4096)
                if (differ(from, to, 4096 + p, 4096) || p >= u32(from, 0x28) ||
                    (last && pages.size() * 4096 < min_bytes))
                    pages.push_back(p);
            if (last) last_step = built.size();
            std::uint64_t grown = u32(from, 0x28);
            for (std::size_t i = 0; i < pages.size(); i += 64) {
                const std::size_t n = std::min<std::size_t>(64, pages.size() - i);
                std::vector<std::pair<std::size_t, std::size_t>> runs;
                for (std::size_t k = i; k < i + n; ++k) {
                    if (!runs.empty() && runs.back().first + runs.back().second == pages[k])
                        runs.back().second += 4096;
                    else
                        runs.emplace_back(pages[k], 4096);
                    grown = std::max<std::uint64_t>(grown, pages[k] + 4096);
                }
                Buffer e(40 + 8 * runs.size());
                for (std::size_t r = 0; r < runs.size(); ++r)
                    put32(e, 40 + 8 * r, runs[r].first), put32(e, 44 + 8 * r, runs[r].second);
                for (const auto& [offset, size] : runs)
                    e.insert(e.end(), &to[4096 + offset], &to[4096 + offset + size]);
                e.resize((e.size() + 511) / 512 * 512);
                std::memcpy(e.data(), "HvLE", 4);
                put32(e, 4, e.size()), put32(e, 8, u32(to, 0x90) & 1);
                put32(e, 12, seq + built.size());
                put32(e, 16, i + n == pages.size() ? to_bins : grown), put32(e, 20, runs.size());
                hash_entry(e, 0);
                built.push_back(e);
            }
        }
        hive.entries = static_cast<std::uint32_t>(built.size());
        if (kind == "badhash") built[last_step][30] ^= 1;
        const std::size_t half =
            kind == "one" || kind == "damaged" ? built.size() : (built.size() + 1) / 2;
        for (int l = 0; l < 2; ++l) {
            const std::size_t from = l == 0 ? 0 : half, to = l == 0 ? half : built.size();
            if (from == to) continue;
            Buffer& log = hive.logs[kind == "swapped" ? 1 - l : l];
            log = log_base(earlier, 6, static_cast<std::uint32_t>(seq + from));
            for (std::size_t k = from; k < to; ++k)
                log.insert(log.end(), built[k].begin(), built[k].end());
        }
        if (kind == "stale") put32(hive.primary, 8, seq + hive.entries);
    }
    put32(hive.primary, 4, u32(hive.primary, 8) + 1);
    seal(hive.primary);
    if (kind == "damaged" || kind == "olddamaged") std::memset(hive.primary.data(), 0, 512);
    if (kind == "none") hive.logs[0].clear(), hive.logs[1].clear();
    return hive;
}

}  // namespace endpointfix::test
