// The platform registry as a conformance target: scratch keys under HKEY_CURRENT_USER, laid out
// with plain Win32 calls and removed afterwards.
#include <windows.h>

#include <string>

#include "registry/win32_store.h"
#include "tests/store_target.h"

namespace endpointfix::test {
namespace {

class Win32Target final : public StoreTarget {
public:
    Win32Target() {
        static int serial = 0;
        path_ = "Software\\endpointfix-test-" + std::to_string(GetCurrentProcessId()) + "-" +
                std::to_string(++serial);
        RegCreateKeyExA(HKEY_CURRENT_USER, path_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                        &scratch_, nullptr);
    }
    ~Win32Target() override {
        RegCloseKey(scratch_);
        RegDeleteTreeA(HKEY_CURRENT_USER, path_.c_str());
    }
    RegistryStore& store() override { return store_; }
    KeyHandle scratch() override { return KeyHandle{reinterpret_cast<std::uintptr_t>(scratch_)}; }
    void create_key(const std::string& path) override { close_now(make(path)); }
    void set_value(const std::string& path, const std::string& name, std::uint32_t type,
                   const Bytes& bytes) override {
        HKEY key = make(path);
        RegSetValueExA(key, name.c_str(), 0, type, bytes.data(), static_cast<DWORD>(bytes.size()));
        close_now(key);
    }

private:
    HKEY make(const std::string& path) {
        HKEY key = nullptr;
        const LONG status = RegCreateKeyExA(scratch_, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                            nullptr, &key, nullptr);
        EXPECT_EQ(status, ERROR_SUCCESS) << "creating " << path;
        return key;
    }
    static void close_now(HKEY key) {
        if (key != nullptr) RegCloseKey(key);
    }

    Win32Store store_;
    std::string path_;
    HKEY scratch_ = nullptr;
};

}  // namespace

std::unique_ptr<StoreTarget> make_win32_target() { return std::make_unique<Win32Target>(); }

}  // namespace endpointfix::test
