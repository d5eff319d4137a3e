// The replay of a dirty hive's logs: Marvin32 against the shared document's vectors, the log
// writer's dirty hives, and damaged logs, which stop the replay or refuse it, never crash it.
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <iterator>

#include "registry/format/log_replay.h"
#include "registry/format/marvin32.h"
#include "tests/dirty_hive.h"
#include "tests/empty_hive.h"
#include "tests/endpoint_store.h"

namespace endpointfix::test {
namespace {

using dirty::put32;
using format::Replay;

TEST(Marvin32, MatchesTheHashesWindowsWrote) {
    const struct {
        Bytes input;
        std::uint64_t want;
    } cases[] = {
        {{}, 0xb39efca403966e08},
        {hex("00"), 0x2d45a72c3c214958},
        {hex("61 62 63"), 0xb9cf3dfca41914f7},
        {hex("00 01 02 03 04 05 06 07 08 09 0a 0b 0c 0d 0e 0f 10 11 12 13 14 15 16 17 18 19 1a 1b "
             "1c 1d 1e 1f"),
         0xc64feee425c2e24c},
        {hex("48 76 4c 45 00 5e 00 00 00 00 00 00 02 00 00 00 00 50 00 00 01 00 00 00 31 e4 07 18 "
             "66 6c 86 67"),
         0xcd44f3cfa7657f02},
    };
    for (const auto& c : cases)
        EXPECT_EQ(format::marvin32(c.input.data(), c.input.size()), c.want) << c.input.size();
}

// An empty hive, and two later states of it: its first bin changed and a bin added, then two
// bins more.
struct States {
    Buffer earlier, mid, later;
    std::vector<Buffer> all() const { return {earlier, mid, later}; }
    States() {
        const std::string path = ::testing::TempDir() + "replay-empty";
        write_empty_hive(path.c_str());
        std::ifstream in(path, std::ios::binary);
        earlier.assign(std::istreambuf_iterator<char>(in), {});
        unlink(path.c_str());
        later = earlier;
        later[4096 + 0x200] = 0x5a;
        for (std::uint32_t bin = 4096; bin <= 12288; bin += 4096) {
            later.resize(4096 + bin + 4096, static_cast<std::uint8_t>(bin >> 12));
            std::memcpy(&later[4096 + bin], "hbin", 4);
            put32(later, 4096 + bin + 4, bin), put32(later, 4096 + bin + 8, 4096);
            put32(later, 0x28, bin + 4096);
            if (bin == 4096) mid = later;
        }
    }
};

Replay replay(const DirtyHive& hive, std::vector<format::LogInput>* keep = nullptr) {
    std::vector<format::LogInput> logs;
    if (!hive.logs[0].empty() || !hive.logs[1].empty())
        logs = {{"SOFTWARE.LOG1", hive.logs[0]}, {"SOFTWARE.LOG2", hive.logs[1]}};
    Replay r = format::replay_logs(hive.primary, logs);
    if (keep != nullptr) *keep = logs;
    return r;
}

TEST(LogReplay, DirtyHivesOfTheWriterAreRecoveredOrRefused) {
    const States s;
    const struct {
        const char* kind;
        std::uint32_t applied;  // 0: refused
        std::string logs_or_why;
    } cases[] = {
        {"split", 2, "SOFTWARE.LOG1 SOFTWARE.LOG2 "},
        {"swapped", 2, "SOFTWARE.LOG2 SOFTWARE.LOG1 "},
        {"one", 2, "SOFTWARE.LOG1 "},
        {"damaged", 2, "SOFTWARE.LOG1 "},
        {"badhash", 1, "SOFTWARE.LOG1 "},  // stopped at the second entry: the middle state
        {"old", 25, "SOFTWARE.LOG1 "},     // 25 dirty 512-byte pages
        {"olddamaged", 25, "SOFTWARE.LOG1 "},
        {"stale", 0, "no entry of its logs continues it"},
        {"none", 0, "is dirty, and no transaction log stands beside it"},
        {"oldstamp", 0, "SOFTWARE.LOG1: its timestamp does not match"},
    };
    for (const auto& c : cases) {
        const DirtyHive hive = make_dirty_hive(c.kind, s.all());
        const Replay r = replay(hive);
        if (c.applied == 0) {
            EXPECT_EQ(r.outcome, Replay::Outcome::kRefused) << c.kind;
            EXPECT_NE(r.refusal.find(c.logs_or_why), std::string::npos) << c.kind << r.refusal;
            continue;
        }
        ASSERT_EQ(r.outcome, Replay::Outcome::kRecovered) << c.kind << r.refusal;
        std::string used;
        for (const auto& name : r.logs_used) used += name + " ";
        EXPECT_EQ(used + std::to_string(r.applied), c.logs_or_why + std::to_string(c.applied));
        const Buffer recovered = format::recovered_hive(hive.primary, r);
        EXPECT_EQ(format::primary_state(recovered), format::PrimaryState::kClean) << c.kind;
        const Buffer& want = c.applied == 1 ? s.mid : s.later;
        EXPECT_EQ(Buffer(recovered.begin() + 4096, recovered.end()),
                  Buffer(want.begin() + 4096, want.end()))
            << c.kind;
        EXPECT_EQ(r.stopped.empty(), c.applied != 1) << c.kind << r.stopped;
    }
}

// Damage to the second of the two entries in LOG1 (at byte e) stops the replay after the first;
// damage to LOG1's base block leaves no usable log. Either way, never a read out of bounds.
TEST(LogReplay, DamagedLogsStopTheReplayOrRefuseIt) {
    const States s;
    using Damage = std::function<void(Buffer&, std::size_t)>;
    const auto rehashed = [](Damage d) {
        return [d](Buffer& l, std::size_t e) { d(l, e), dirty::hash_entry(l, e); };
    };
    const struct {
        const char* name;
        Damage damage;
        std::string want;  // in the reason it stopped, or in the refusal
    } cases[] = {
        {"entry size 0", [](Buffer& l, auto e) { put32(l, e + 4, 0); }, "not a multiple of 512"},
        {"past the file", [](Buffer& l, auto e) { put32(l, e + 4, 1 << 30); }, "past the end"},
        {"truncated log", [](Buffer& l, auto e) { l.resize(e + 600); }, "past the end of the log"},
        {"bins size", rehashed([](Buffer& l, auto e) { put32(l, e + 16, 4097); }), "4096 up to"},
        {"bins over 2 GiB", rehashed([](Buffer& l, auto e) { put32(l, e + 16, 1u << 31 | 4096); }),
         "up to 2 GiB"},
        {"page count", rehashed([](Buffer& l, auto e) { put32(l, e + 20, ~0u); }), "page count"},
        {"page outside", rehashed([](Buffer& l, auto e) { put32(l, e + 40, 1 << 16); }),
         "outside the bins data"},
        {"page unaligned", rehashed([](Buffer& l, auto e) { put32(l, e + 40, 100); }), "of 4096"},
        {"page too long",
         rehashed([](Buffer& l, auto e) { put32(l, e + 40, 0), put32(l, e + 44, 16384); }),
         "runs past the end of the entry"},
        {"sequence gap", rehashed([](Buffer& l, auto e) { put32(l, e + 12, 9); }), "not follow"},
        {"hash", [](Buffer& l, auto e) { l[e + 100] ^= 1; }, "its hash is wrong"},
        {"log checksum", [](Buffer& l, auto) { l[100] ^= 1; }, "LOG1: the checksum of its base"},
        {"log numbers", [](Buffer& l, auto) { put32(l, 8, 7), dirty::seal(l); },
         "numbers of its base block differ"},
        {"log type", [](Buffer& l, auto) { put32(l, 28, 2), dirty::seal(l); }, "file type 2"},
    };
    for (const auto& c : cases) {
        DirtyHive hive = make_dirty_hive("one", s.all());
        c.damage(hive.logs[0], 512 + dirty::u32(hive.logs[0], 516));
        const Replay r = replay(hive);
        const std::string& said = r.outcome == Replay::Outcome::kRefused ? r.refusal : r.stopped;
        EXPECT_NE(said.find(c.want), std::string::npos) << c.name << ": " << said;
        EXPECT_EQ(r.applied, r.outcome == Replay::Outcome::kRecovered ? 1u : 0u) << c.name;
    }
}

// Bins data that neither the primary nor a page holds is damage, never zeros made up: an entry
// that declares more stops the replay before it (refuses it, where it is the first), and an
// old-format log that does is refused. Nor is the recovered hive ever larger than its inputs.
TEST(LogReplay, BinsDataThatNothingHoldsIsDamage) {
    const States s;
    const struct {
        const char* name;
        int entry;  // given 2 GiB - 4 KiB of bins data; -1: an old-format log's last page unlogged
        std::uint32_t applied;
        std::string want;
    } cases[] = {
        {"first entry", 0, 0, "nor a page of its log holds those at bins offset 8192"},
        {"second entry", 1, 1, "nor a page of its log holds those at bins offset 16384"},
        {"old format", -1, 0, "LOG1 cannot be applied: it declares 16384 bytes of bins data"},
    };
    for (const auto& c : cases) {
        DirtyHive hive = make_dirty_hive(c.entry < 0 ? "old" : "one", s.all());
        Buffer& log = hive.logs[0];
        const std::size_t e = 512 + (c.entry == 1 ? dirty::u32(log, 516) : 0);
        if (c.entry < 0) log[516 + 3] &= 0x7f;  // the dirty vector's bit for bins offset 15872
        if (c.entry >= 0) put32(log, e + 16, 0x7ffff000), dirty::hash_entry(log, e);
        const Replay r = replay(hive);
        const std::string& said = r.outcome == Replay::Outcome::kRefused ? r.refusal : r.stopped;
        EXPECT_NE(said.find(c.want), std::string::npos) << c.name << ": " << said;
        EXPECT_EQ(r.applied, c.applied) << c.name;
        EXPECT_LE(r.size, hive.primary.size() + log.size()) << c.name;
    }
}

// The second entry's two pages (bins 2 and 3), both set at bin 2, and the bins data cut to end
// with bin 2: the later page is what it holds.
TEST(LogReplay, OverlappingPagesOfAnEntryLeaveTheLaterOne) {
    const States s;
    DirtyHive hive = make_dirty_hive("one", s.all());
    Buffer& log = hive.logs[0];
    const std::size_t e = 512 + dirty::u32(log, 516), end = e + dirty::u32(log, e + 4);
    log.erase(log.begin() + end - 8, log.begin() + end);  // padding, for a second page's place
    log.insert(log.begin() + e + 48, {0, 0x20, 0, 0, 0, 0x10, 0, 0});
    put32(log, e + 16, 12288), put32(log, e + 20, 2), put32(log, e + 44, 4096);
    dirty::hash_entry(log, e);
    const Replay r = replay(hive);
    ASSERT_EQ(r.applied, 2u) << r.refusal << r.stopped;
    EXPECT_EQ(format::recovered_hive(hive.primary, r)[4096 + 8192 + 100], 3);
}

}  // namespace
}  // namespace endpointfix::test
