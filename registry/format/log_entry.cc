#include "registry/format/log_entry.h"

#include <cstring>
#include <string>

#include "registry/format/little_endian.h"
#include "registry/format/marvin32.h"

namespace endpointfix::format::detail {

std::optional<LogEntryHeader> read_entry_header(Bytes log, std::uint64_t at) {
    if (at > log.size() || log.size() - at < kEntryHeaderSize ||
        std::memcmp(log.data() + at, "HvLE", 4) != 0)
        return std::nullopt;
    const std::uint8_t* e = log.data() + at;
    LogEntryHeader h;
    h.size = read_le32(e + 4), h.flags = read_le32(e + 8), h.sequence = read_le32(e + 12);
    h.bins_size = read_le32(e + 16), h.page_count = read_le32(e + 20);
    h.data_hash = read_le64(e + 24), h.header_hash = read_le64(e + 32);
    return h;
}

Result check_entry(Bytes log, std::uint64_t at, const LogEntryHeader& header,
                   std::uint32_t expected, std::vector<Page>& pages) {
    const std::uint8_t* e = log.data() + at;
    const std::uint64_t size = header.size, room = log.size() - at;
    if (size == 0 || size % 512 != 0)
        return Result::refused("its size (" + std::to_string(size) +
                               " bytes) is not a multiple of 512");
    if (size > room) return Result::refused("it runs past the end of the log");
    if (header.sequence != expected)
        return Result::refused("its sequence number " + std::to_string(header.sequence) +
                               " does not follow " + std::to_string(expected - 1));
    const std::uint64_t bins = header.bins_size;
    if (!sound_bins_size(bins))
        return Result::refused("the bins data size it gives (" + std::to_string(bins) +
                               " bytes) is not a multiple of 4096 up to 2 GiB");
    if (marvin32(e + kEntryHeaderSize, size - kEntryHeaderSize) != header.data_hash ||
        marvin32(e, 32) != header.header_hash)
        return Result::refused("its hash is wrong");
    const std::uint64_t count = header.page_count;
    std::uint64_t data = kEntryHeaderSize + 8 * count;
    if (data > size)
        return Result::refused("its page count (" + std::to_string(count) + ") overruns it");
    pages.clear();
    for (std::uint64_t k = 0; k < count; ++k) {
        const std::uint8_t* reference = e + kEntryHeaderSize + 8 * k;
        const std::uint64_t offset = read_le32(reference), length = read_le32(reference + 4);
        const std::string page = "its page " + std::to_string(k + 1);
        if (length == 0 || length % 4096 != 0 || offset % 4096 != 0)
            return Result::refused(page + " has an offset or size that is not a multiple of 4096");
        if (offset + length > bins) return Result::refused(page + " lies outside the bins data");
        if (length > size - data) return Result::refused(page + " runs past the end of the entry");
        pages.push_back({offset, Bytes(e + data, length)});
        data += length;
    }
    return {};
}

}  // namespace endpointfix::format::detail
