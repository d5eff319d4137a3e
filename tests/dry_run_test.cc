// The dry run's verdict on each write, and how registry text is made safe to print.
#include <gtest/gtest.h>

#include <cstdio>

#include "check/check.h"
#include "check/text.h"
#include "registry/dry_run_store.h"
#include "tests/endpoint_store.h"

namespace endpointfix::test {
namespace {

struct Writes final : DryRunListener {
    std::vector<PendingWrite> seen;
    void write(KeyHandle, const char*, const StoredValue&, const PendingWrite& w) override {
        seen.push_back(w);
    }
    void listed(KeyHandle) override {}
    void read(KeyHandle, const char*, const StoredValue&) override {}
    void refused(const char*, Outcome) override {}
};

TEST(DryRun, AWriteIsAChangeUnlessTheSameTypeAndBytesAreStored) {
    const std::string mix = kCapture + "\\{0.0.1.00000000}.{mix}";
    const struct {
        const char* name;
        std::uint32_t type;  // 0: no DeviceState
        Bytes stored;
        bool deny_writes, want_change;
    } cases[] = {
        {"absent", 0, {}, false, true},
        {"equal", kDword, kActive, false, false},
        {"equal bytes, another type", kBinary, kActive, false, true},
        {"other bytes", kDword, hex("04 00 00 00"), false, true},
        {"other bytes, writes denied", kDword, hex("04 00 00 00"), true, true},
    };
    for (const auto& c : cases) {
        MemoryStore store;
        store.set_string(mix + "\\Properties", kDescription, "WaveOut Mix");
        if (c.type != 0) store.set_value(mix, "DeviceState", c.type, c.stored);
        if (c.deny_writes) store.deny_writes();
        const std::string before = store.dump();
        Writes writes;
        DryRunStore dry(store, store, writes);
        run(dry);
        ASSERT_EQ(writes.seen.size(), 1u) << c.name;
        EXPECT_EQ(writes.seen[0].change, c.want_change) << c.name;
        EXPECT_EQ(writes.seen[0].access, c.deny_writes ? Outcome::kDenied : Outcome::kDone)
            << c.name;
        EXPECT_EQ(store.dump(), before) << c.name << ": the dry run changed the store";
        EXPECT_EQ(store.open_handles(), 0u) << c.name;
    }
}

TEST(Check, ExitStatusSaysWhatARunWouldDo) {
    const std::string mix = kCapture + "\\{0.0.1.00000000}.{mix}";
    const struct {
        const char* name;
        bool store, deny_open, deny_writes;
        Bytes state;
        int want;
    } cases[] = {
        {"no store", false, false, false, {}, kNothingToChange},
        {"already active", true, false, false, kActive, kNothingToChange},
        {"pending", true, false, false, hex("04 00 00 00"), kChangesPending},
        {"blocked", true, false, true, hex("04 00 00 00"), kBlockedOrUnreadable},
        {"root unreadable", true, true, false, kActive, kBlockedOrUnreadable},
    };
    for (const auto& c : cases) {
        MemoryStore store;
        if (c.store) store.set_string(mix + "\\Properties", kDescription, "WaveOut Mix");
        if (c.store) store.set_value(mix, "DeviceState", kDword, c.state);
        if (c.deny_open) store.deny_open(kCapture);
        if (c.deny_writes) store.deny_writes();
        std::FILE* out = std::tmpfile();
        EXPECT_EQ(run_check(store, store, out, CheckOutput::kReport), c.want) << c.name;
        std::fclose(out);
    }
}

TEST(Escaping, ControlBytesOfRegistryTextCannotReachTheTerminal) {
    const struct {
        const char *name, *text, *want;
    } cases[] = {
        {"escape sequence", "\x1b[2J\t", "\\x1b[2J\\x09"},
        {"forged line", "a\r\nendpointfix-check: 0", "a\\x0d\\x0aendpointfix-check: 0"},
        {"DEL and C1 controls", "\x7f\x80\x9b\x9f", "\\x7f\\x80\\x9b\\x9f"},
        {"letters of other languages", "Kopfh\xf6rer \xa0", "Kopfh\xf6rer \xa0"},
    };
    for (const auto& c : cases) {
        std::FILE* out = std::tmpfile();
        print_escaped(out, c.text);
        std::rewind(out);
        char got[64] = {};
        got[std::fread(got, 1, sizeof(got) - 1, out)] = '\0';
        std::fclose(out);
        EXPECT_STREQ(got, c.want) << c.name;
    }
}

}  // namespace
}  // namespace endpointfix::test
