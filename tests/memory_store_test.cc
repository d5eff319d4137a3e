// Accounts and restrictions of the in-memory store that the other tests rely on.
#include <gtest/gtest.h>

#include "tests/endpoint_store.h"

namespace endpointfix::test {
namespace {

TEST(MemoryStore, CountsHandlesAndRejectsBadCloses) {
    MemoryStore store;
    store.create_key("A\\B");
    KeyHandle a, b;
    ASSERT_EQ(store.open(kLocalMachine, "A", a), kSuccess);
    ASSERT_EQ(store.open(a, "B", b), kSuccess);
    EXPECT_NE(a, b);
    EXPECT_EQ(store.open_handles(), 2u);
    EXPECT_EQ(store.close(b), kSuccess);
    EXPECT_NE(store.close(b), kSuccess) << "second close of the same handle";
    EXPECT_NE(store.close(kLocalMachine), kSuccess) << "the predefined root is never open";
    EXPECT_EQ(store.bad_closes(), 2u);
    EXPECT_NE(store.open(b, "X", a), kSuccess) << "open below a closed handle";
    EXPECT_EQ(store.open_handles(), 1u);
}

TEST(MemoryStore, RestrictionsStandForMissingRights) {
    MemoryStore store;
    store.create_key("A\\Locked\\Inner");
    store.deny_open("a\\locked");
    KeyHandle key;
    EXPECT_NE(store.open(kLocalMachine, "A\\Locked", key), kSuccess);
    ASSERT_EQ(store.open(kLocalMachine, "A\\Locked\\Inner", key), kSuccess)
        << "rights on a key do not guard the keys below it";
    store.deny_writes();
    const std::uint8_t one = 1;
    EXPECT_NE(store.write_value(key, "v", ValueType::kBinary, &one, 1), kSuccess);
    EXPECT_EQ(store.find_value("A\\Locked\\Inner", "v"), nullptr);
    store.close(key);
}

TEST(MemoryStore, EnumerationFailsAtAnOverlongName) {
    MemoryStore store;
    store.create_key("R\\" + std::string(256, 'b'));
    store.create_key("R\\a");
    store.create_key("R\\c");
    KeyHandle root;
    ASSERT_EQ(store.open(kLocalMachine, "R", root), kSuccess);
    char name[kKeyNameBuffer];
    EXPECT_EQ(store.enumerate(root, 0, name), kSuccess);
    EXPECT_NE(store.enumerate(root, 1, name), kSuccess);
    EXPECT_EQ(store.enumerate(root, 2, name), kSuccess);
    EXPECT_STREQ(name, "c");
    store.close(root);
}

}  // namespace
}  // namespace endpointfix::test
