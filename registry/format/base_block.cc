#include "registry/format/base_block.h"

#include <cstring>

#include "registry/format/little_endian.h"

namespace endpointfix::format {

std::uint32_t base_block_checksum(const std::uint8_t* block) {
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i < kChecksum; i += 4) sum ^= read_le32(block + i);
    return sum == 0 ? 1 : sum == 0xffffffff ? 0xfffffffe : sum;
}

BaseBlock parse_base_block(Bytes bytes, std::size_t whole) {
    BaseBlock b;
    if (bytes.empty()) return b;
    b.fault = BaseBlock::Fault::kNoSignature;
    if (bytes.size() < 4 || std::memcmp(bytes.data(), "regf", 4) != 0) return b;
    b.fault = BaseBlock::Fault::kShort;
    if (bytes.size() < whole || bytes.size() < kLogBaseSize) return b;
    const std::uint8_t* p = bytes.data();
    b.fault = base_block_checksum(p) == read_le32(p + kChecksum) ? BaseBlock::Fault::kNone
                                                                 : BaseBlock::Fault::kWrongChecksum;
    b.sequence1 = read_le32(p + kSequence1), b.sequence2 = read_le32(p + kSequence2);
    b.file_type = read_le32(p + kFileType), b.bins_size = read_le32(p + kBins),
    b.flags = read_le32(p + kFlags);
    b.stamp = read_le64(p + kStamp);
    return b;
}

PrimaryState primary_state(Bytes primary) {
    const BaseBlock b = parse_base_block(primary, kBaseBlockSize);
    return b.fault != BaseBlock::Fault::kNone ? PrimaryState::kDamaged
           : b.dirty()                        ? PrimaryState::kDirty
                                              : PrimaryState::kClean;
}

HiveFileState check_hive_file(Bytes head, std::uint64_t file_size) {
    using Fault = BaseBlock::Fault;
    if (file_size == 0) return {"is empty"};
    const BaseBlock b = parse_base_block(head, kBaseBlockSize);
    if (b.fault == Fault::kEmpty || b.fault == Fault::kNoSignature)
        return {"is not a registry hive file"};
    if (b.fault == Fault::kShort) return {"is truncated inside its base block"};
    if (b.fault == Fault::kWrongChecksum) return {"has a damaged base block (wrong checksum)"};
    if (b.file_type != 0) return {"is a transaction log, not a primary hive file"};
    if (!sound_bins_size(b.bins_size)) return {"has a damaged base block (size of its bins)"};
    if (kBaseBlockSize + b.bins_size > file_size)
        return {"is truncated: shorter than its base block declares"};
    const std::uint8_t* bin = head.data() + kBaseBlockSize;
    if (head.size() < kBaseBlockSize + 32 || std::memcmp(bin, "hbin", 4) != 0 ||
        read_le32(bin + 4) != 0)
        return {"has a damaged first bin"};
    return {"", b.dirty(), b.sequence1, kBaseBlockSize + b.bins_size, b.stamp};
}

}  // namespace endpointfix::format
