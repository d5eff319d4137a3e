// A store under test together with the means to lay out scratch keys in it, so that one
// conformance suite runs against every RegistryStore implementation.
#pragma once

#include <functional>
#include <memory>
#include <ostream>
#include <string>

#include "tests/endpoint_store.h"

namespace endpointfix::test {

class StoreTarget {
public:
    virtual ~StoreTarget() = default;
    virtual RegistryStore& store() = 0;
    // An open key with nothing below it but what the test creates; left open.
    virtual KeyHandle scratch() = 0;
    // Paths below the scratch key; missing keys on the way are created.
    virtual void create_key(const std::string& path) = 0;
    virtual void set_value(const std::string& path, const std::string& name, std::uint32_t type,
                           const Bytes& bytes) = 0;
    // Subkeys enumerate in the order of their upper-cased names, as hive files keep them, rather
    // than of their lower-cased names, as Wine's registry keeps them ("_x" after "Z", not before
    // "A").
    virtual bool upper_case_order() const { return false; }
};

struct TargetMaker {
    friend void PrintTo(const TargetMaker& maker, std::ostream* os) { *os << maker.name; }
    const char* name;
    std::function<std::unique_ptr<StoreTarget>()> make;
};

std::unique_ptr<StoreTarget> make_memory_target();
#ifdef _WIN32
std::unique_ptr<StoreTarget> make_win32_target();
#else
std::unique_ptr<StoreTarget> make_hive_target();
#endif

}  // namespace endpointfix::test
