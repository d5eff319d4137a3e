// An entry of a new-format transaction log (Windows 8.1 and later): a 40-byte header, then a
// reference (bins offset, length) for each page it carries, then those pages; hashed with
// Marvin32 and numbered. Read once into named fields, each size and offset checked before use.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "registry/format/log_replay_internal.h"
#include "registry/result.h"

namespace endpointfix::format::detail {

inline constexpr std::size_t kEntryHeaderSize = 40;

struct LogEntryHeader {
    std::uint32_t size = 0;   // of the whole entry: header, references and pages
    std::uint32_t flags = 0;  // the base block's flags as of this entry; bit 0 is kept
    std::uint32_t sequence = 0;
    std::uint32_t bins_size = 0;  // of the bins data once the entry is applied
    std::uint32_t page_count = 0;
    std::uint64_t data_hash = 0;    // Marvin32 of what follows the header
    std::uint64_t header_hash = 0;  // Marvin32 of the header's first 32 bytes
};

// The header at `at` of `log`, where a whole one, signed "HvLE", stands there; nothing where the
// log ends or holds no entry there.
std::optional<LogEntryHeader> read_entry_header(Bytes log, std::uint64_t at);

// Checks the entry `header` read at `at` of `log`, which should carry the sequence number
// `expected`, and gives its pages, in order. Done, or refused saying why it is not sound.
Result check_entry(Bytes log, std::uint64_t at, const LogEntryHeader& header,
                   std::uint32_t expected, std::vector<Page>& pages);

}  // namespace endpointfix::format::detail
