// A fuzz target for the replay of dirty hives, both log formats. Its input is a primary and two
// logs: a byte of options, the primary's length and LOG1's (32 bits each, little-endian), then
// the three; LOG2 is the rest. The base blocks' checksums and the new-format entries' hashes are
// made right afresh (unless the options say not to), so that the replay gets past them. The
// replay must never read out of bounds, and the hive it recovers must be a clean hive no larger
// than its inputs.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "registry/format/log_replay.h"
#include "registry/format/marvin32.h"

namespace {

using namespace endpointfix::format;
using Buffer = std::vector<std::uint8_t>;

std::uint32_t u32(const std::uint8_t* p) {
    return p[0] | p[1] << 8 | p[2] << 16 | std::uint32_t{p[3]} << 24;
}
void put64(Buffer& b, std::size_t at, std::uint64_t v) {
    for (int i = 0; i < 8; ++i) b[at + i] = static_cast<std::uint8_t>(v >> 8 * i);
}

void seal_base_block(Buffer& b) {
    if (b.size() < kLogBaseSize) return;
    const std::uint32_t sum = base_block_checksum(b.data());
    std::memcpy(&b[kChecksum], &sum, 4);  // little-endian hosts only, as the fuzzer runs
}

// Hashes each new-format entry afresh, from the first, as far as they follow one another.
void seal_entries(Buffer& log) {
    for (std::size_t at = kLogBaseSize;
         log.size() >= at + 40 && std::memcmp(&log[at], "HvLE", 4) == 0;) {
        const std::uint32_t size = u32(&log[at + 4]);
        if (size < 512 || size % 512 != 0 || size > log.size() - at) return;
        put64(log, at + 24, marvin32(&log[at + 40], size - 40));
        put64(log, at + 32, marvin32(&log[at], 32));
        at += size;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 9) return 0;
    const std::uint8_t options = data[0];  // bit 0: leave the checksums; bit 1: leave the hashes
    std::size_t lengths[2] = {u32(data + 1), u32(data + 5)};
    data += 9, size -= 9;
    lengths[0] = std::min(lengths[0], size);
    lengths[1] = std::min(lengths[1], size - lengths[0]);
    Buffer parts[3] = {Buffer(data, data + lengths[0]),
                       Buffer(data + lengths[0], data + lengths[0] + lengths[1]),
                       Buffer(data + lengths[0] + lengths[1], data + size)};
    for (auto& part : parts) {
        if (!(options & 1)) seal_base_block(part);
        if (!(options & 2) && &part != &parts[0]) seal_entries(part);
    }
    const LogInput logs[] = {{"HIVE.LOG1", parts[1]}, {"HIVE.LOG2", parts[2]}};
    const Replay r = replay_logs(parts[0], logs);
    if (r.outcome != Replay::Outcome::kRecovered) return 0;
    if (r.size > parts[0].size() + parts[1].size() + parts[2].size()) __builtin_trap();
    const Buffer recovered = recovered_hive(parts[0], r);
    if (primary_state(recovered) != PrimaryState::kClean) __builtin_trap();
    return 0;
}
