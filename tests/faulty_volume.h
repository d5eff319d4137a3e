// A Volume that injects one fault at its k-th call (counting from 0), and passes every other call
// to the volume it wraps: the call fails (EIO) and later ones pass, so that an undo runs; or the
// volume stops dead there, as at a kill -9 or a power cut (that call and every later one do
// nothing and fail); or SIGTERM is raised before the call is passed on.
#pragma once

#include <cerrno>
#include <csignal>
#include <string>
#include <vector>

#include "offline/sink/volume_wrapper.h"

namespace endpointfix::offline {

enum class Fault { kNone, kFail, kDead, kSignal };

class FaultyVolume final : public VolumeWrapper {
public:
    FaultyVolume(Volume& inner, Fault fault, int at) : VolumeWrapper(&inner), fault_(fault), at_(at) {}
    // The calls made, by name, in order.
    const std::vector<std::string>& calls() const { return calls_; }

private:
    Result before(const char* name) override {
        const int k = static_cast<int>(calls_.size());
        calls_.push_back(name);
        const Result injected{EIO, "injected fault"};
        if (fault_ == Fault::kDead) return k >= at_ ? injected : Result{};
        if (k != at_) return {};
        if (fault_ == Fault::kSignal) std::raise(SIGTERM);
        return fault_ == Fault::kFail ? injected : Result{};
    }

    Fault fault_;
    int at_;
    std::vector<std::string> calls_;
};

}  // namespace endpointfix::offline
