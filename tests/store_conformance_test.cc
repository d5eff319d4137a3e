// What the program relies on from a registry, checked alike against every store.
#include <gtest/gtest.h>

#include "tests/store_target.h"

namespace endpointfix::test {
namespace {

class MemoryTarget final : public StoreTarget {
public:
    MemoryTarget() {
        memory_.create_key("Scratch");
        memory_.open(kLocalMachine, "Scratch", scratch_);
    }
    RegistryStore& store() override { return memory_; }
    KeyHandle scratch() override { return scratch_; }
    void create_key(const std::string& path) override { memory_.create_key("Scratch\\" + path); }
    void set_value(const std::string& path, const std::string& name, std::uint32_t type,
                   const Bytes& bytes) override {
        memory_.set_value("Scratch\\" + path, name, type, bytes);
    }

private:
    MemoryStore memory_;
    KeyHandle scratch_;
};

class Conformance : public ::testing::TestWithParam<TargetMaker> {
protected:
    void SetUp() override { target_ = GetParam().make(); }
    RegistryStore& store() { return target_->store(); }
    std::unique_ptr<StoreTarget> target_;
};

TEST_P(Conformance, OpensCaseInsensitivelyAndSeveralLevelsAtOnce) {
    target_->create_key("Alpha\\Beta\\Gamma");
    const struct {
        const char* path;
        bool want_open;
    } cases[] = {
        {"Alpha", true},
        {"alpha\\BETA", true},
        {"ALPHA\\beta\\gAmMa", true},
        {"Alpha\\Gamma", false},
        {"Alpha\\Beta\\Gamma\\Delta", false},
        {"Beta", false},
    };
    for (const auto& c : cases) {
        KeyHandle key;
        const bool opened = store().open(target_->scratch(), c.path, key) == kSuccess;
        EXPECT_EQ(opened, c.want_open) << c.path;
        if (opened) {
            EXPECT_EQ(store().close(key), kSuccess) << c.path;
        }
    }
}

TEST_P(Conformance, EnumeratesSubkeysInTheStoresOrderAndFailsAtOverlongNames) {
    for (const char* name : {"b", "A", "_x", "a1", "Z", "[k", "0"}) target_->create_key(name);
    const std::string longest(255, 'q'), overlong(256, 'r');
    target_->create_key(longest);
    target_->create_key(overlong);
    const std::vector<std::string> want =
        target_->upper_case_order()
            ? std::vector<std::string>{"0", "A", "a1", "b", longest, "(fails)", "Z", "[k", "_x"}
            : std::vector<std::string>{"0", "[k",    "_x",      "A", "a1",
                                       "b", longest, "(fails)", "Z", "(fails)"};
    std::vector<std::string> got;
    for (std::uint32_t i = 0; i < want.size(); ++i) {
        char name[kKeyNameBuffer];
        got.emplace_back(store().enumerate(target_->scratch(), i, name) == kSuccess ? name
                                                                                    : "(fails)");
    }
    EXPECT_EQ(got, want);
}

TEST_P(Conformance, ReadsCopyWhatFitsTheCapacity) {
    target_->set_value("V", "Ten", kBinary, bytes("0123456789"));
    target_->set_value("V", "Empty", kBinary, {});
    target_->set_value("V", "Text", kString, bytes({"abc\0", 4}));
    target_->set_value("V", "Number", kDword, hex("03 00 00 00"));
    const struct {
        const char* name;
        std::uint32_t capacity;
        bool want_ok;
        Bytes want;
    } cases[] = {
        {"Ten", 10, true, bytes("0123456789")},
        {"Ten", 256, true, bytes("0123456789")},
        {"Ten", 9, false, {}},
        {"tEN", 10, true, bytes("0123456789")},
        {"Empty", 4, true, {}},
        {"Text", 256, true, bytes({"abc\0", 4})},
        {"Text", 4, true, bytes({"abc\0", 4})},
        {"Text", 3, false, {}},
        {"Number", 4, true, hex("03 00 00 00")},
        {"Number", 2, false, {}},
        {"Absent", 256, false, {}},
    };
    KeyHandle key;
    ASSERT_EQ(store().open(target_->scratch(), "V", key), kSuccess);
    for (const auto& c : cases) {
        std::uint8_t data[256];
        std::uint32_t size = c.capacity;
        const bool ok = store().read_value(key, c.name, data, size) == kSuccess;
        EXPECT_EQ(ok, c.want_ok) << c.name << " with capacity " << c.capacity;
        if (ok) {
            EXPECT_EQ(Bytes(data, data + size), c.want)
                << c.name << " with capacity " << c.capacity;
        }
    }
    EXPECT_EQ(store().close(key), kSuccess);
}

TEST_P(Conformance, WritesCreateAndReplaceValues) {
    target_->create_key("W");
    KeyHandle key;
    ASSERT_EQ(store().open(target_->scratch(), "W", key), kSuccess);
    const Bytes first = hex("41 00 63 00"), second = hex("01 00 00 00");
    store().write_value(key, "Value", ValueType::kBinary, first.data(), 4);
    store().write_value(key, "VALUE", ValueType::kDword, second.data(), 4);
    std::uint8_t data[256];
    std::uint32_t size = sizeof(data);
    ASSERT_EQ(store().read_value(key, "value", data, size), kSuccess);
    EXPECT_EQ(Bytes(data, data + size), second);
    EXPECT_EQ(store().close(key), kSuccess);
}

std::vector<TargetMaker> targets() {
    std::vector<TargetMaker> all = {{"Memory", [] { return make_memory_target(); }}};
#ifdef _WIN32
    all.push_back({"Win32", [] { return make_win32_target(); }});
#else
    all.push_back({"Hive", [] { return make_hive_target(); }});
#endif
    return all;
}

INSTANTIATE_TEST_SUITE_P(Stores, Conformance, ::testing::ValuesIn(targets()),
                         [](const auto& maker) { return std::string(maker.param.name); });

}  // namespace

std::unique_ptr<StoreTarget> make_memory_target() { return std::make_unique<MemoryTarget>(); }

}  // namespace endpointfix::test
