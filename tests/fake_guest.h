// An in-memory disk image guest for tests: filesystems by device, each with files (hard links
// share one), folders and extended attributes, ntfs-3g's unlisted system.ntfs_* among them.
// Calls named in `failing` fail; with `upload_stores`, an upload stores those bytes instead.
#pragma once

#include <strings.h>

#include <cerrno>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <set>

#include "offline/image/guest.h"
#include "offline/sink/sha256.h"

namespace endpointfix::offline::image {

class FakeGuest final : public Guest {
public:
    struct File {
        std::string bytes;
        std::map<std::string, std::string> attributes;
    };
    struct Filesystem {
        std::map<std::string, std::shared_ptr<File>> files;  // by path
        std::set<std::string> folders;
    };

    std::vector<std::pair<std::string, std::string>> roots;  // inspection's Windows roots
    std::map<std::string, Filesystem> devices;
    std::set<std::string> failing;
    std::optional<std::string> upload_stores;
    std::map<std::string, std::pair<std::string, std::int64_t>> disk_facts;  // head and size

    // The file at `path` on `device`, with the folders above it; ntfs-3g's attributes are given.
    File& add(const std::string& device, const std::string& path, const std::string& bytes) {
        auto& fs = devices[device];
        for (auto slash = path.find('/', 1); slash != path.npos; slash = path.find('/', slash + 1))
            fs.folders.insert(path.substr(0, slash));
        return *(fs.files[path] = fresh(bytes));
    }
    Filesystem& mounted() { return devices.at(mounted_); }

    std::string error() const override { return error_; }
    int error_code() const override { return code_; }
    std::vector<std::string> disks() override { return {"/dev/sda"}; }
    std::vector<std::pair<std::string, std::string>> windows_roots() override { return roots; }
    std::vector<std::string> filesystems() override {
        std::vector<std::string> all;
        for (const auto& [device, fs] : devices) all.push_back(device);
        return all;
    }
    std::optional<std::string> disk_head(const std::string& disk, std::size_t count) override {
        if (!disk_facts.count(disk)) return std::nullopt;
        return disk_facts[disk].first.substr(0, count);
    }
    std::optional<std::int64_t> disk_size(const std::string& disk) override {
        if (!disk_facts.count(disk)) return std::nullopt;
        return disk_facts[disk].second;
    }
    bool mount(const std::string& device, bool) override {
        if (fails("mount") || !devices.count(device)) return false;
        mounted_ = device;
        return true;
    }
    void unmount_all() override { mounted_.clear(); }
    std::optional<std::string> file(const std::string& path) override {
        for (const auto& [name, file] : mounted().files)
            if (strcasecmp(name.c_str(), path.c_str()) == 0) return name;
        return std::nullopt;
    }
    std::optional<FileFacts> stat(const std::string& path) override {
        const auto found = find(path);
        if (!found) return std::nullopt;
        return FileFacts{true, found->bytes.size(), static_cast<std::uint64_t>(found.use_count() - 1)};
    }
    std::optional<std::vector<std::string>> list(const std::string& folder) override {
        if (fails("list") || !mounted().folders.count(folder)) return std::nullopt;
        std::vector<std::string> names;
        for (const auto& [path, file] : mounted().files)
            if (path.rfind(folder + "/", 0) == 0 && path.find('/', folder.size() + 1) == path.npos)
                names.push_back(path.substr(folder.size() + 1));
        return names;
    }
    std::optional<std::string> head(const std::string& path, std::size_t count) override {
        const auto found = find(path);
        if (!found) return std::nullopt;
        return found->bytes.substr(0, count);
    }
    std::optional<std::int64_t> size(const std::string& path) override {
        const auto found = find(path);
        if (!found) return std::nullopt;
        return static_cast<std::int64_t>(found->bytes.size());
    }
    std::optional<std::string> sha256(const std::string& path) override {
        const auto found = fails("sha256") ? nullptr : find(path);
        if (!found) return std::nullopt;
        Sha256 hash;
        hash.add(found->bytes.data(), found->bytes.size());
        return hash.hex();
    }
    std::optional<std::string> attribute(const std::string& path, const std::string& name) override {
        const auto found = find(path);
        if (!found) return std::nullopt;
        if (const auto it = found->attributes.find(name); it != found->attributes.end()) return it->second;
        fail(ENODATA);
        return std::nullopt;
    }
    // ntfs-3g lists neither system.ntfs_acl nor system.ntfs_attrib.
    std::optional<std::vector<std::pair<std::string, std::string>>> attributes(
        const std::string& path) override {
        const auto found = find(path);
        if (!found) return std::nullopt;
        std::vector<std::pair<std::string, std::string>> listed;
        for (const auto& [name, bytes] : found->attributes)
            if (name.rfind("system.ntfs_", 0) != 0) listed.emplace_back(name, bytes);
        return listed;
    }
    bool set_attribute(const std::string& path, const std::string& name,
                       const std::string& bytes) override {
        const auto found = fails("set_attribute") ? nullptr : find(path);
        if (found) found->attributes[name] = bytes;
        return found != nullptr;
    }
    bool download(const std::string&, const std::string&) override { return false; }
    // As ntfs-3g does, writing sets the archive bit in the file attributes.
    bool upload(const std::string& local, const std::string& path) override {
        std::ifstream in(local, std::ios::binary);
        if (fails("upload") || !in) return false;
        auto& file = mounted().files[path];
        if (!file) file = fresh("");
        file->bytes = upload_stores.value_or(std::string(std::istreambuf_iterator<char>(in), {}));
        file->attributes["system.ntfs_attrib"] = std::string("\x20\0\0\0", 4);
        return true;
    }
    bool touch(const std::string& path) override {
        if (fails("touch")) return false;
        if (!find(path)) mounted().files[path] = fresh("");
        return true;
    }
    bool link(const std::string& target, const std::string& name) override {
        const auto found = fails("link") || find(name) ? nullptr : find(target);
        if (found) mounted().files[name] = found;
        return found != nullptr;
    }
    bool rename(const std::string& from, const std::string& to) override {
        const auto found = fails("rename") ? nullptr : find(from);
        if (found) mounted().files[to] = found, mounted().files.erase(from);
        return found != nullptr;
    }
    bool remove(const std::string& path) override {
        return !fails("remove") && mounted().files.erase(path) == 1;
    }
    bool sync() override { return !fails("sync"); }
    bool finish() override { return !fails("finish"); }

private:
    // A new file, as ntfs-3g makes one: its default descriptor, and archive set.
    static std::shared_ptr<File> fresh(const std::string& bytes) {
        return std::make_shared<File>(File{bytes, {{"system.ntfs_acl", "default descriptor"},
                                                   {"system.ntfs_attrib", std::string("\x20\0\0\0", 4)}}});
    }
    bool fails(const std::string& call) {
        if (failing.count(call)) return fail(EIO), true;
        return false;
    }
    void fail(int code) { code_ = code, error_ = code == ENODATA ? "No data available" : "injected failure"; }
    std::shared_ptr<File> find(const std::string& path) {
        if (!mounted_.empty()) {
            const auto& files = mounted().files;
            if (const auto it = files.find(path); it != files.end()) return it->second;
        }
        fail(ENOENT);
        return nullptr;
    }

    std::string mounted_;
    std::string error_;
    int code_ = 0;
};

}  // namespace endpointfix::offline::image
