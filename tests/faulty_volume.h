// A Volume that injects one fault at its k-th call (counting from 0), and passes every other call
// to the volume it wraps: the call fails (EIO) and later ones pass, so that an undo runs; or the
// volume stops dead there, as at a kill -9 or a power cut (that call and every later one do
// nothing and fail); or SIGTERM is raised before the call is passed on.
#pragma once

#include <cerrno>
#include <csignal>
#include <string>
#include <vector>

#include "offline/sink/volume.h"

namespace endpointfix::offline {

enum class Fault { kNone, kFail, kDead, kSignal };

class FaultyVolume final : public Volume {
public:
    FaultyVolume(Volume& inner, Fault fault, int at) : inner_(inner), fault_(fault), at_(at) {}
    // The calls made, by name, in order.
    const std::vector<std::string>& calls() const { return calls_; }

    bool has_modes() const override { return inner_.has_modes(); }
    Result stat(const std::string& p, FileFacts& f) override {
        return fault("stat") ? injected_ : inner_.stat(p, f);
    }
    Result list(const std::string& p, std::vector<std::string>& n) override {
        return fault("list") ? injected_ : inner_.list(p, n);
    }
    Result create(const std::string& p) override {
        return fault("create") ? injected_ : inner_.create(p);
    }
    Result set_owner(const std::string& p, unsigned o, unsigned g, unsigned m) override {
        return fault("set_owner") ? injected_ : inner_.set_owner(p, o, g, m);
    }
    Result list_attributes(const std::string& p, std::vector<std::string>& n) override {
        return fault("list_attributes") ? injected_ : inner_.list_attributes(p, n);
    }
    Result attribute(const std::string& p, const std::string& n,
                     std::optional<std::string>& v) override {
        return fault("attribute") ? injected_ : inner_.attribute(p, n, v);
    }
    Result set_attribute(const std::string& p, const std::string& n,
                         const std::string& v) override {
        return fault("set_attribute") ? injected_ : inner_.set_attribute(p, n, v);
    }
    Result write(const std::string& p, int from, std::uint64_t size) override {
        return fault("write") ? injected_ : inner_.write(p, from, size);
    }
    Result sync(const std::string& p) override { return fault("sync") ? injected_ : inner_.sync(p); }
    Result sha256(const std::string& p, std::string& d) override {
        return fault("sha256") ? injected_ : inner_.sha256(p, d);
    }
    Result holds(const std::string& p, int from, std::uint64_t size, bool& same) override {
        return fault("holds") ? injected_ : inner_.holds(p, from, size, same);
    }
    Result link(const std::string& e, const std::string& n) override {
        return fault("link") ? injected_ : inner_.link(e, n);
    }
    Result rename(const std::string& f, const std::string& t) override {
        return fault("rename") ? injected_ : inner_.rename(f, t);
    }
    Result remove(const std::string& p) override {
        return fault("remove") ? injected_ : inner_.remove(p);
    }
    Result sync_folder(const std::string& p) override {
        return fault("sync_folder") ? injected_ : inner_.sync_folder(p);
    }

private:
    // Notes the call; whether it is to fail without being passed on.
    bool fault(const char* name) {
        const int k = static_cast<int>(calls_.size());
        calls_.push_back(name);
        if (fault_ == Fault::kDead) return k >= at_;
        if (k != at_) return false;
        if (fault_ == Fault::kSignal) std::raise(SIGTERM);
        return fault_ == Fault::kFail;
    }

    Volume& inner_;
    Fault fault_;
    int at_;
    std::vector<std::string> calls_;
    const Result injected_{EIO, "injected fault"};
};

}  // namespace endpointfix::offline
