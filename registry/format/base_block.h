// The base block of a hive file (its first 4096 bytes), and a log's copy of its first 512: the one
// reading of their fields that the replay, the checks of a hive file and its loading share. Pure
// functions of the bytes given; nothing is read past them.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace endpointfix::format {

using Bytes = std::span<const std::uint8_t>;

inline constexpr std::size_t kBaseBlockSize = 4096;
inline constexpr std::size_t kLogBaseSize = 512;           // a log's copy of the base block
inline constexpr std::uint64_t kMaxBinsSize = 0x80000000;  // cell offsets have 31 bits

// The one rule for a size of bins data, wherever one is declared (a base block, a log's copy of
// it, a log entry): whole pages of 4096 bytes, at least one, up to kMaxBinsSize.
inline bool sound_bins_size(std::uint64_t size) {
    return size != 0 && size % 4096 == 0 && size <= kMaxBinsSize;
}

// Where the fields lie.
inline constexpr std::size_t kSequence1 = 4, kSequence2 = 8, kStamp = 12, kFileType = 28,
                             kBins = 0x28, kFlags = 0x90, kChecksum = 0x1fc;

// The checksum: the XOR of the first 127 double words, never 0 or all ones.
std::uint32_t base_block_checksum(const std::uint8_t* block);

struct BaseBlock {
    // Why the fields cannot be trusted: no bytes; no "regf"; fewer bytes than a whole block;
    // a wrong checksum. The fields are read unless the block is short or has no signature.
    enum class Fault { kNone, kEmpty, kNoSignature, kShort, kWrongChecksum };
    Fault fault = Fault::kEmpty;
    std::uint32_t sequence1 = 0, sequence2 = 0, file_type = 0, bins_size = 0, flags = 0;
    std::uint64_t stamp = 0;  // when the hive was last written, as a FILETIME
    bool dirty() const { return sequence1 != sequence2; }
};

// Reads the block at the start of `bytes`, which is whole at `whole` bytes: kBaseBlockSize for a
// hive file, kLogBaseSize for a log.
BaseBlock parse_base_block(Bytes bytes, std::size_t whole);

// What a primary's base block says of it. Clean: a hive file (or a log, or no hive at all: the
// usual checks say so) that is read as it stands. Dirty: its sequence numbers differ. Damaged:
// no "regf", shorter than a base block, or a wrong checksum; a usable log may mend it.
enum class PrimaryState { kClean, kDirty, kDamaged };
PrimaryState primary_state(Bytes primary);

struct HiveFileState {
    std::string damage;     // why the file cannot be serviced; empty where it can
    bool dirty = false;     // its sequence numbers differ: recent changes wait in its logs
    unsigned sequence = 0;  // the base block's first sequence number
    // The bytes that are the hive, base block and bins, from the file's start; what follows them
    // in the file is not part of it. 0 where the file is damaged.
    std::uint64_t size = 0;
    std::uint64_t stamp = 0;  // the base block's: when the hive was last written, as a FILETIME
};

// The checks of a hive file `file_size` bytes long, from its first bytes `head` (its base block
// and its first bin's header, kBaseBlockSize + 32 bytes, or fewer where the file ends before).
HiveFileState check_hive_file(Bytes head, std::uint64_t file_size);

}  // namespace endpointfix::format
