// The replay of a dirty hive's transaction logs, as Windows replays them when it loads the hive: a
// pure function from the primary file's bytes and its logs' bytes to the hive as Windows would hold
// it, or to why nothing sound can be made of them. No file is read or written here; every size,
// count and offset in the input is checked before it is used, and nothing is allocated in
// proportion to a size the input declares.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "registry/format/base_block.h"

namespace endpointfix::format {

struct LogInput {
    std::string name;  // as it is to be named in messages: SOFTWARE.LOG1
    Bytes bytes;
};

// Bytes the replay writes into the recovered hive at a file offset; they point into a log's bytes.
struct RecoveredWrite {
    std::uint64_t offset;
    Bytes bytes;
};

struct Replay {
    enum class Outcome { kClean, kRecovered, kRefused };
    Outcome outcome = Outcome::kRefused;
    std::string refusal;  // kRefused: why, in plain words, naming the logs

    // kRecovered. The recovered hive is `size` bytes: the base block, then the primary's first
    // `kept` bytes of bins data, zeros to the end, and over them `writes`, in order, cut at its
    // end (emit_recovered). No more than the inputs hold: every byte of bins data past `kept` is
    // covered by a write.
    std::vector<std::uint8_t> base_block;  // kBaseBlockSize bytes, checksum right
    std::uint64_t size = 0, kept = 0;
    std::vector<RecoveredWrite> writes;
    bool old_format = false;  // dirty pages of a Vista-to-8 log, not entries
    bool mended = false;      // the primary's base block was taken from a log
    std::vector<std::string> logs_used;
    std::uint32_t applied = 0;  // entries (new format) or dirty pages (old format)
    std::string stopped;        // where replay stopped early and why; empty if it ran through
};

// Replays `logs` (the files beside the primary, in any order, empty ones included) over
// `primary`. The writes of the result point into the logs' bytes, which must outlive it.
Replay replay_logs(Bytes primary, std::span<const LogInput> logs);

// Builds the recovered hive of `replay` over `primary`: hands `emit` its pieces, each a file
// offset and the bytes there, later ones over earlier ones; what no piece covers is zeros, as in
// a file grown to `replay.size` or a zeroed buffer. Stops at the first piece `emit` refuses
// (returns false for), and returns false then.
using RecoveredPieceWriter = std::function<bool(std::uint64_t offset, Bytes bytes)>;
bool emit_recovered(Bytes primary, const Replay& replay, const RecoveredPieceWriter& emit);

// The recovered hive, whole, in memory (emit_recovered into a buffer).
std::vector<std::uint8_t> recovered_hive(Bytes primary, const Replay& replay);

// One line for stderr: "dirty; replayed 7 log entries from SOFTWARE.LOG1, SOFTWARE.LOG2, as
// Windows does when it loads the hive", and where it stopped early, if it did.
std::string replay_summary(const Replay& replay);

}  // namespace endpointfix::format
