// A RegistryStore that forwards every call to another store and fails the k-th operation (of
// one kind, or of any), either once or from then on, as a registry under pressure might; or,
// where `drop`, reports it done without passing it on, as a store that loses writes would. It also
// keeps its own account of the handles it hands out, so that it can tell whether each was closed
// exactly once even when a close itself was made to fail.
#pragma once

#include <map>

#include "registry/store_wrapper.h"

namespace endpointfix::test {

enum class Op { kOpen, kEnumerate, kRead, kWrite, kClose, kAny };

class FaultyStore final : public StoreWrapper {
public:
    // fail_at 0 injects nothing; it counts operations of kind `only` from 1.
    FaultyStore(RegistryStore& inner, std::uint64_t fail_at, bool from_then_on, Op only = Op::kAny,
                bool drop = false)
        : StoreWrapper(inner),
          fail_at_(fail_at),
          from_then_on_(from_then_on),
          only_(only),
          drop_(drop) {}

    Status open(KeyHandle parent, const char* path, KeyHandle& out) override {
        if (fault(Op::kOpen)) return kInjected;
        const Status status = StoreWrapper::open(parent, path, out);
        if (status == kSuccess) {
            // Handles are reused once closed: settle the account of the previous holder first.
            const auto [it, fresh] = closes_.try_emplace(out.value, 0);
            if (!fresh) {
                retired_misclosed_ += it->second != 1;
                it->second = 0;
            }
        }
        return status;
    }
    Status enumerate(KeyHandle key, std::uint32_t index, char (&name)[kKeyNameBuffer]) override {
        return fault(Op::kEnumerate) ? kInjected : StoreWrapper::enumerate(key, index, name);
    }
    Status read_value(KeyHandle key, const char* name, std::uint8_t* data,
                      std::uint32_t& size) override {
        return fault(Op::kRead) ? kInjected : StoreWrapper::read_value(key, name, data, size);
    }
    Status write_value(KeyHandle key, const char* name, ValueType type, const std::uint8_t* data,
                       std::uint32_t size) override {
        if (fault(Op::kWrite)) return drop_ ? kSuccess : kInjected;
        return StoreWrapper::write_value(key, name, type, data, size);
    }
    Status close(KeyHandle key) override {
        const auto it = closes_.find(key.value);
        if (it == closes_.end())
            ++foreign_closes_;
        else
            ++it->second;
        // A close that fails still ends the program's use of the handle, so the key is let go.
        const Status status = StoreWrapper::close(key);
        return fault(Op::kClose) ? kInjected : status;
    }

    std::uint64_t operations() const { return count_; }
    std::uint64_t injected() const { return injected_; }
    // Handles handed out whose close count is not exactly one, and closes of handles never
    // handed out (the predefined root among them).
    int misclosed() const {
        int bad = foreign_closes_ + retired_misclosed_;
        for (const auto& [handle, count] : closes_) bad += count != 1;
        return bad;
    }

private:
    static constexpr Status kInjected = 1450;  // ERROR_NO_SYSTEM_RESOURCES

    bool fault(Op op) {
        if (only_ != Op::kAny && op != only_) return false;
        ++count_;
        const bool fail =
            fail_at_ != 0 && (from_then_on_ ? count_ >= fail_at_ : count_ == fail_at_);
        injected_ += fail;
        return fail;
    }

    std::uint64_t fail_at_;
    bool from_then_on_;
    Op only_;
    bool drop_;
    std::uint64_t count_ = 0, injected_ = 0;
    std::map<std::uintptr_t, int> closes_;
    int foreign_closes_ = 0, retired_misclosed_ = 0;
};

}  // namespace endpointfix::test
