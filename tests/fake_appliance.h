// An appliance in memory for tests: disks, and filesystems by device, each an in-memory NTFS
// volume as ntfs-3g shows it (offline/sink/memory_volume.h). A read-only mount refuses every
// write; calls named in `failing` fail (EIO); with `stores`, a write stores those bytes instead.
#pragma once

#include <cerrno>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>

#include "offline/image/appliance.h"
#include "offline/sink/memory_volume.h"
#include "offline/sink/volume_wrapper.h"

namespace endpointfix::offline::image {

class FakeAppliance final : public Appliance, public VolumeWrapper {
public:
    FakeAppliance() : VolumeWrapper(nullptr) {}

    std::vector<std::string> disk_names{"/dev/sda"};
    std::vector<std::pair<std::string, std::string>> roots;  // inspection's Windows roots
    std::map<std::string, std::unique_ptr<MemoryVolume>> devices;
    std::set<std::string> failing;
    std::optional<std::string> stores;
    std::map<std::string, std::pair<std::string, std::uint64_t>> disk_facts;  // head and size

    // The file at `path` on `device` (made there).
    MemoryVolume::File& add(const std::string& device, const std::string& path,
                            const std::string& bytes) {
        auto& volume = devices[device];
        if (!volume) volume = std::make_unique<MemoryVolume>(MemoryVolume::ntfs());
        return volume->add(path, bytes);
    }
    MemoryVolume& on(const std::string& device) { return *devices.at(device); }

    Volume& volume() override { return *this; }
    Result disks(std::vector<std::string>& disks) override { return disks = disk_names, Result{}; }
    Result windows_roots(std::vector<std::pair<std::string, std::string>>& found) override {
        return found = roots, Result{};
    }
    Result filesystems(std::vector<std::string>& all) override {
        for (const auto& [device, fs] : devices) all.push_back(device);
        return {};
    }
    Result disk_head(const std::string& disk, std::size_t count, std::string& bytes) override {
        if (!disk_facts.count(disk)) return {EIO, "cannot read " + disk};
        return bytes = disk_facts[disk].first.substr(0, count), Result{};
    }
    Result disk_size(const std::string& disk, std::uint64_t& bytes) override {
        if (!disk_facts.count(disk)) return {EIO, "cannot tell the size of " + disk};
        return bytes = disk_facts[disk].second, Result{};
    }
    Result mount(const std::string& device, bool writable) override {
        if (const Result failed = fails("mount"); !failed.ok()) return failed;
        if (!devices.count(device)) return {ENOENT, "cannot mount " + device + ": no such device"};
        mounted_ = devices.at(device).get(), writable_ = writable;
        wrap(mounted_);
        return {};
    }
    void unmount_all() override { mounted_ = nullptr, wrap(nullptr); }
    Result find_file(const std::string& path, std::string& spelt) override {
        spelt = mounted_ ? mounted_->spelt(path) : "";
        return spelt.empty() ? Result{ENOENT, path + ": no such file"} : Result{};
    }
    Result head(const std::string& path, std::size_t count, std::string& bytes) override {
        const auto file = mounted_ ? mounted_->find(path) : nullptr;
        if (!file) return {ENOENT, path + ": no such file"};
        return bytes = file->bytes.substr(0, count), Result{};
    }
    Result copy_out(const std::string& path, const std::string& local) override {
        const auto file = mounted_ ? mounted_->find(path) : nullptr;
        if (const Result failed = fails("copy_out"); !failed.ok() || !file)
            return file ? failed : Result{ENOENT, "cannot copy " + path + " out"};
        std::ofstream(local, std::ios::binary) << file->bytes;
        return {};
    }
    Result finish() override { return unmount_all(), fails("finish"); }

    bool has_modes() const override { return false; }
    Result write(const std::string& path, int from, std::uint64_t size) override {
        const Result wrote = VolumeWrapper::write(path, from, size);
        if (wrote.ok() && stores) mounted_->find(path)->bytes = *stores;
        return wrote;
    }

private:
    Result fails(const std::string& call) const {
        return failing.count(call) ? Result{EIO, call + ": injected failure"} : Result{};
    }
    Result before(const char* call) override {
        static const std::set<std::string> writes = {"create", "set_owner", "set_attribute",
                                                     "remove_attribute", "write", "link",
                                                     "rename", "remove"};
        if (!mounted_) return {ENOENT, std::string(call) + ": nothing is mounted"};
        if (!writable_ && writes.count(call)) return {EROFS, std::string(call) + ": read-only"};
        return fails(call);
    }

    MemoryVolume* mounted_ = nullptr;
    bool writable_ = false;
};

}  // namespace endpointfix::offline::image
