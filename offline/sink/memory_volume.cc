#include "offline/sink/memory_volume.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>

#include "offline/load/path_parts.h"
#include "offline/sink/digest.h"

namespace endpointfix::offline {
namespace {

Result missing(const std::string& path) { return {ENOENT, path + ": No such file or directory"}; }

}  // namespace

MemoryVolume::Kind MemoryVolume::ntfs() {
    Kind kind;
    kind.modes = false, kind.names_without_case = true, kind.unlisted_prefix = "system.ntfs_";
    kind.on_create = {{"system.ntfs_acl", "default descriptor"},
                      {"system.ntfs_attrib", std::string("\x20\0\0\0", 4)}};
    kind.on_write = {{"system.ntfs_attrib", std::string("\x20\0\0\0", 4)}};
    return kind;
}

std::string MemoryVolume::key(const std::string& path) const {
    std::string folded = path;
    if (kind_.names_without_case)
        for (char& c : folded) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return folded;
}

MemoryVolume::File& MemoryVolume::add(const std::string& path, const std::string& bytes) {
    for (auto slash = path.find('/', 1); slash != path.npos; slash = path.find('/', slash + 1))
        folders_[key(path.substr(0, slash))] = path.substr(0, slash);
    auto file = std::make_shared<File>(File{bytes, kind_.creator, kind_.creator, 0644,
                                            kind_.on_create, ++inodes_});
    files_[key(path)] = {path, file};
    return *file;
}

std::shared_ptr<MemoryVolume::File> MemoryVolume::find(const std::string& path) const {
    const auto it = files_.find(key(path));
    return it == files_.end() ? nullptr : it->second.file;
}

std::string MemoryVolume::spelt(const std::string& path) const {
    const auto it = files_.find(key(path));
    return it == files_.end() ? "" : it->second.spelt;
}

std::vector<std::string> MemoryVolume::names(const std::string& folder) const {
    std::vector<std::string> names;
    const std::string in = key(folder);
    for (const auto& [k, name] : files_)
        if (key(split_path(name.spelt).folder) == in) names.push_back(split_path(name.spelt).name);
    for (const auto& [k, spelt] : folders_)
        if (spelt != "/" && key(split_path(spelt).folder) == in) names.push_back(split_path(spelt).name);
    std::sort(names.begin(), names.end());
    return names;
}

Result MemoryVolume::in_folder(const std::string& path) const {
    const std::string folder = split_path(path).folder;
    return folders_.count(key(folder)) ? Result{} : missing(folder);
}

bool MemoryVolume::taken(const std::string& path) const {
    return find(path) || folders_.count(key(path));
}

Result MemoryVolume::stat(const std::string& path, FileFacts& facts) {
    facts = {};
    if (folders_.count(key(path))) return {};
    const auto file = find(path);
    if (!file) return missing(path);
    std::uint64_t links = 0;
    for (const auto& [k, name] : files_) links += name.file == file;
    facts = {true, file->bytes.size(), links, 1, file->inode, file->owner, file->group,
             kind_.modes ? file->mode : 0};
    return {};
}

Result MemoryVolume::list(const std::string& folder, std::vector<std::string>& names) {
    if (!folders_.count(key(folder))) return missing(folder);
    names = this->names(folder);
    return {};
}

Result MemoryVolume::create(const std::string& path) {
    if (const Result there = in_folder(path); !there.ok()) return there;
    if (taken(path)) return {EEXIST, "cannot create " + path + ": it exists"};
    add(path, "").mode = 0600;
    return {};
}

Result MemoryVolume::set_owner(const std::string& path, unsigned owner, unsigned group,
                               unsigned mode) {
    return on_file(path, [&](File& file) {
        if (kind_.modes) file.owner = owner, file.group = group, file.mode = mode;
        return Result{};
    });
}

Result MemoryVolume::list_attributes(const std::string& path, std::vector<std::string>& names) {
    return on_file(path, [&](File& file) {
        for (const auto& [name, value] : file.attributes)
            if (kind_.unlisted_prefix.empty() || name.rfind(kind_.unlisted_prefix, 0) != 0)
                names.push_back(name);
        return Result{};
    });
}

Result MemoryVolume::attribute(const std::string& path, const std::string& name,
                               std::optional<std::string>& value) {
    value.reset();
    return on_file(path, [&](File& file) {
        if (const auto it = file.attributes.find(name); it != file.attributes.end()) value = it->second;
        return Result{};
    });
}

Result MemoryVolume::set_attribute(const std::string& path, const std::string& name,
                                   const std::string& value) {
    return on_file(path, [&](File& file) { return file.attributes[name] = value, Result{}; });
}

Result MemoryVolume::remove_attribute(const std::string& path, const std::string& name) {
    return on_file(path, [&](File& file) {
        return file.attributes.erase(name) == 1 ? Result{} : Result{ENODATA, path + ": no " + name};
    });
}

Result MemoryVolume::flags(const std::string& path, unsigned& flags) {
    return on_file(path, [&](File& file) { return flags = file.flags, Result{}; });
}

Result MemoryVolume::set_flags(const std::string& path, unsigned flags) {
    return on_file(path, [&](File& file) { return file.flags = flags, Result{}; });
}

Result MemoryVolume::write(const std::string& path, int from, std::uint64_t size) {
    return on_file(path, [&](File& file) {
        std::string bytes(size, '\0');
        if (pread(from, bytes.data(), size, 0) != static_cast<ssize_t>(size))
            return failed("cannot read the new hive", errno != 0 ? errno : EIO);
        file.bytes = std::move(bytes);
        for (const auto& [name, value] : kind_.on_write) file.attributes[name] = value;
        return Result{};
    });
}

// Through a memfd, by sha256_of: the one digest of the offline code.
Result MemoryVolume::sha256(const std::string& path, std::string& digest) {
    return on_file(path, [&](File& file) {
        const int fd = memfd_create("sha256", MFD_CLOEXEC);
        const auto size = static_cast<ssize_t>(file.bytes.size());
        const Result done = fd >= 0 && ::write(fd, file.bytes.data(), file.bytes.size()) == size
                                ? sha256_of(fd, file.bytes.size(), digest)
                                : failed("cannot read back " + path, errno);
        if (fd >= 0) close(fd);
        return done;
    });
}

Result MemoryVolume::link(const std::string& existing, const std::string& name) {
    const auto file = find(existing);
    if (!file) return missing(existing);
    if (const Result there = in_folder(name); !there.ok()) return there;
    if (taken(name)) return {EEXIST, "cannot link " + name + ": it exists"};
    files_[key(name)] = {name, file};
    return {};
}

Result MemoryVolume::rename(const std::string& from, const std::string& to) {
    const auto file = find(from);
    if (!file) return missing(from);
    if (const Result there = in_folder(to); !there.ok()) return there;
    files_.erase(key(from));
    files_[key(to)] = {to, file};
    return {};
}

Result MemoryVolume::remove(const std::string& path) {
    if (files_.erase(key(path)) == 0) return missing(path);
    return {};
}

Result MemoryVolume::sync_folder(const std::string& folder) {
    return folders_.count(key(folder)) ? Result{} : missing(folder);
}

}  // namespace endpointfix::offline
