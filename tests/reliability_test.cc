// Whole runs over random stores, and over registries that fail one operation after another.
#include <gtest/gtest.h>

#include <set>

#include "tests/faulty_store.h"
#include "tests/random_store.h"

namespace endpointfix::test {
namespace {

TEST(RandomStores, RunWritesExactlyWhatTheRulesRequire) {
    constexpr int kStores = 10000;
    std::size_t writes = 0;
    for (std::uint32_t seed = 1; seed <= kStores; ++seed) {
        const RandomStore model(seed, 6);
        MemoryStore store;
        model.seed(store);
        run_checked(store);
        ASSERT_EQ(write_log(store), expected_writes(model.audio, false)) << "seed " << seed;
        writes += store.writes().size();
    }
    std::printf("checked %d random stores, %zu writes\n", kStores, writes);
    EXPECT_GT(writes, std::size_t{kStores}) << "the stores should match often";
}

TEST(FaultInjection, EveryFailureIsSurvivedWithoutStrayWritesOrLeakedHandles) {
    std::uint64_t injected = 0, runs = 0;
    for (std::uint32_t seed : {7u, 19u, 23u, 42u}) {
        const RandomStore model(seed, 8);
        const auto allowed = expected_writes(model.audio, true);
        const std::set<std::string> allowed_set(allowed.begin(), allowed.end());
        for (Op only : {Op::kAny, Op::kOpen, Op::kEnumerate, Op::kRead, Op::kWrite, Op::kClose}) {
            for (bool from_then_on : {false, true}) {
                for (std::uint64_t k = 1;; ++k) {
                    MemoryStore memory;
                    model.seed(memory);
                    FaultyStore faulty(memory, k, from_then_on, only);
                    const std::string where = "seed " + std::to_string(seed) + ", kind " +
                                              std::to_string(static_cast<int>(only)) + ", k " +
                                              std::to_string(k) + (from_then_on ? " on" : " once");
                    ASSERT_EQ(run(faulty), 0) << where;
                    EXPECT_EQ(faulty.misclosed(), 0) << where;
                    EXPECT_EQ(memory.open_handles(), 0u) << where;
                    std::set<std::string> seen;
                    for (const std::string& w : write_log(memory)) {
                        EXPECT_TRUE(allowed_set.count(w)) << where << ": stray write " << w;
                        EXPECT_TRUE(seen.insert(w).second) << where << ": written twice " << w;
                    }
                    if (faulty.injected() == 0) break;  // k is past the last operation
                    injected += faulty.injected();
                    ++runs;
                }
            }
        }
    }
    std::printf("injected %llu faults in %llu runs\n", static_cast<unsigned long long>(injected),
                static_cast<unsigned long long>(runs));
}

}  // namespace
}  // namespace endpointfix::test
