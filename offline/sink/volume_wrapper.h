// A Volume that passes every call to another: the base of wrappers that change a few calls, or
// look at every call (`before`), as the tests' fault injection does.
#pragma once

#include "offline/sink/volume.h"

namespace endpointfix::offline {

class VolumeWrapper : public Volume {
public:
    explicit VolumeWrapper(Volume* inner) : inner_(inner) {}

    bool has_modes() const override { return inner_->has_modes(); }
    unsigned creator() const override { return inner_->creator(); }
    Result stat(const std::string& p, FileFacts& f) override {
        return pass("stat", [&] { return inner_->stat(p, f); });
    }
    Result list(const std::string& p, std::vector<std::string>& n) override {
        return pass("list", [&] { return inner_->list(p, n); });
    }
    Result create(const std::string& p) override {
        return pass("create", [&] { return inner_->create(p); });
    }
    Result set_owner(const std::string& p, unsigned o, unsigned g, unsigned m) override {
        return pass("set_owner", [&] { return inner_->set_owner(p, o, g, m); });
    }
    Result list_attributes(const std::string& p, std::vector<std::string>& n) override {
        return pass("list_attributes", [&] { return inner_->list_attributes(p, n); });
    }
    Result attribute(const std::string& p, const std::string& n,
                     std::optional<std::string>& v) override {
        return pass("attribute", [&] { return inner_->attribute(p, n, v); });
    }
    Result set_attribute(const std::string& p, const std::string& n,
                         const std::string& v) override {
        return pass("set_attribute", [&] { return inner_->set_attribute(p, n, v); });
    }
    Result remove_attribute(const std::string& p, const std::string& n) override {
        return pass("remove_attribute", [&] { return inner_->remove_attribute(p, n); });
    }
    Result flags(const std::string& p, unsigned& f) override {
        return pass("flags", [&] { return inner_->flags(p, f); });
    }
    Result set_flags(const std::string& p, unsigned f) override {
        return pass("set_flags", [&] { return inner_->set_flags(p, f); });
    }
    Result write(const std::string& p, int from, std::uint64_t size) override {
        return pass("write", [&] { return inner_->write(p, from, size); });
    }
    Result sync(const std::string& p) override {
        return pass("sync", [&] { return inner_->sync(p); });
    }
    Result sha256(const std::string& p, std::string& d) override {
        return pass("sha256", [&] { return inner_->sha256(p, d); });
    }
    Result holds(const std::string& p, int from, std::uint64_t size, bool& same) override {
        return pass("holds", [&] { return inner_->holds(p, from, size, same); });
    }
    Result link(const std::string& e, const std::string& n) override {
        return pass("link", [&] { return inner_->link(e, n); });
    }
    Result rename(const std::string& f, const std::string& t) override {
        return pass("rename", [&] { return inner_->rename(f, t); });
    }
    Result remove(const std::string& p) override {
        return pass("remove", [&] { return inner_->remove(p); });
    }
    Result sync_folder(const std::string& p) override {
        return pass("sync_folder", [&] { return inner_->sync_folder(p); });
    }

protected:
    // Called before each call is passed on, with its name: a failure is returned in its place,
    // and the call is not passed on.
    virtual Result before(const char* /*call*/) { return {}; }
    void wrap(Volume* inner) { inner_ = inner; }

private:
    template <typename Call>
    Result pass(const char* name, Call call) {
        const Result first = before(name);
        return first.ok() ? call() : first;
    }
    Volume* inner_;
};

}  // namespace endpointfix::offline
