#include "endpoints/walk.h"

#include <gtest/gtest.h>

#include "tests/endpoint_store.h"

namespace endpointfix::test {
namespace {

// Matches property keys holding a value "match"; marks the property key and its endpoint.
class MarkingRule final : public EndpointRule {
public:
    mutable int tests = 0;
    bool test(RegistryStore& store, KeyHandle property_key) const override {
        ++tests;
        std::uint8_t data[4];
        std::uint32_t size = sizeof(data);
        return store.read_value(property_key, "match", data, size) == kSuccess;
    }
    void act(RegistryStore& store, KeyHandle endpoint_key, KeyHandle property_key) const override {
        const std::uint8_t one = 1;
        store.write_value(property_key, "acted", ValueType::kBinary, &one, 1);
        store.write_value(endpoint_key, "endpoint", ValueType::kBinary, &one, 1);
    }
};

struct WalkCase {
    const char* name;
    std::vector<std::string> keys;    // below the root; a leading '+' adds a "match" value
    std::vector<std::string> denied;  // keys below the root that may not be opened
    std::vector<std::string> want;    // "path|name" of the writes, paths below the root
    int want_tests;
};

TEST(Walk, VisitsFirstMatchingPropertyKeyOfEachEndpoint) {
    const std::string long_name(256, 'm');
    const WalkCase cases[] = {
        {"root without subkeys", {}, {}, {}, 0},
        {"endpoint without subkeys", {"E1"}, {}, {}, 0},
        {"one match", {"E1\\P1", "+E1\\P2"}, {}, {"E1\\P2|acted", "E1|endpoint"}, 2},
        {"only the first match acts",
         {"+E1\\P1", "+E1\\P2"},
         {},
         {"E1\\P1|acted", "E1|endpoint"},
         1},
        {"each endpoint acts once",
         {"+E1\\P", "+E2\\P"},
         {},
         {"E1\\P|acted", "E1|endpoint", "E2\\P|acted", "E2|endpoint"},
         2},
        {"enumeration order, not insertion order",
         {"+E1\\b", "+E1\\A"},
         {},
         {"E1\\A|acted", "E1|endpoint"},
         1},
        {"third level is not visited", {"E1\\P1", "+E1\\P1\\Deep"}, {}, {}, 1},
        {"endpoint that cannot be opened is skipped",
         {"+E1\\P", "+E2\\P"},
         {"E1"},
         {"E2\\P|acted", "E2|endpoint"},
         1},
        {"property key that cannot be opened is skipped",
         {"+E1\\P1", "+E1\\P2"},
         {"E1\\P1"},
         {"E1\\P2|acted", "E1|endpoint"},
         1},
        {"255-byte endpoint name is visited",
         {"+" + std::string(255, 'm') + "\\P"},
         {},
         {std::string(255, 'm') + "\\P|acted", std::string(255, 'm') + "|endpoint"},
         1},
        {"over-long name ends its level",
         {"+A\\P", "+" + long_name + "\\P", "+Z\\P"},
         {},
         {"A\\P|acted", "A|endpoint"},
         1},
        {"over-long property name ends its endpoint",
         {"E1\\A", "+E1\\" + long_name, "+E1\\Z"},
         {},
         {},
         1},
    };
    const std::string root_path = "Root";
    for (const auto& c : cases) {
        MemoryStore store;
        store.create_key(root_path);
        for (const auto& key : c.keys) {
            if (key[0] == '+')
                store.set_value(root_path + "\\" + key.substr(1), "match", kBinary, {1});
            else
                store.create_key(root_path + "\\" + key);
        }
        for (const auto& key : c.denied) store.deny_open(root_path + "\\" + key);

        KeyHandle root;
        ASSERT_EQ(store.open(kLocalMachine, root_path.c_str(), root), kSuccess);
        MarkingRule rule;
        walk(store, root, rule);
        EXPECT_EQ(store.open_handles(), 1u) << c.name << ": only the root may stay open";
        store.close(root);
        EXPECT_EQ(store.bad_closes(), 0u) << c.name;

        std::vector<std::string> want;
        for (const auto& w : c.want) want.push_back(root_path + "\\" + w);
        EXPECT_EQ(written(store), want) << c.name;
        EXPECT_EQ(rule.tests, c.want_tests) << c.name;
    }
}

}  // namespace
}  // namespace endpointfix::test
