// A hive file as a conformance target: an empty hive written afresh, its scratch keys and values
// laid out through HiveStore's own seeding and writes.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "registry/hive_store.h"
#include "tests/empty_hive.h"
#include "tests/store_target.h"

namespace endpointfix::test {
namespace {

class HiveTarget final : public StoreTarget {
public:
    HiveTarget() {
        std::string path = ::testing::TempDir() + "hive-XXXXXX";
        close(mkstemp(path.data()));
        path_ = path;
        Result opened = Result::refused("no empty hive to open");
        if (write_empty_hive(path_.c_str()))
            store_ = HiveStore::open_file(path_.c_str(), true, opened);
        // Every case stands on these: without them it cannot run at all.
        if (!store_ || store_->create_key("SOFTWARE\\Scratch") != kSuccess ||
            store_->open(kLocalMachine, "SOFTWARE\\Scratch", scratch_) != kSuccess) {
            std::fprintf(stderr, "the scratch hive %s cannot be made: %s\n", path_.c_str(),
                         opened.message().c_str());
            std::abort();
        }
    }
    ~HiveTarget() override { unlink(path_.c_str()); }
    RegistryStore& store() override { return *store_; }
    KeyHandle scratch() override { return scratch_; }
    bool upper_case_order() const override { return true; }
    void create_key(const std::string& path) override {
        EXPECT_EQ(store_->create_key(("SOFTWARE\\Scratch\\" + path).c_str()), kSuccess) << path;
    }
    void set_value(const std::string& path, const std::string& name, std::uint32_t type,
                   const Bytes& bytes) override {
        create_key(path);
        KeyHandle key;
        store_->open(scratch_, path.c_str(), key);
        store_->write_value(key, name.c_str(), static_cast<ValueType>(type), bytes.data(),
                            static_cast<std::uint32_t>(bytes.size()));
        store_->close(key);
    }

private:
    std::string path_;
    std::unique_ptr<HiveStore> store_;
    KeyHandle scratch_;
};

}  // namespace

std::unique_ptr<StoreTarget> make_hive_target() { return std::make_unique<HiveTarget>(); }

}  // namespace endpointfix::test
