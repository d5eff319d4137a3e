#include "offline/sink/security.h"

#include <algorithm>

namespace endpointfix::offline {
namespace {

// What ntfs-3g holds a file's security descriptor in; no listing shows it.
constexpr char kNtfsDescriptor[] = "system.ntfs_acl";
// ntfs-3g's file attributes (hidden, system, archive...) and creation time, which writing a
// file's data changes (it sets "archive"); no listing shows them.
constexpr const char* kLate[] = {"system.ntfs_attrib", "system.ntfs_crtime"};

bool is_late(const std::string& name) {
    return std::find(std::begin(kLate), std::end(kLate), name) != std::end(kLate);
}

// Adds the attribute `name` of `path` to `into`, where it has one.
Result read_into(Volume& volume, const std::string& path, const std::string& name,
                 Attributes& into) {
    std::optional<std::string> value;
    const Result read = volume.attribute(path, name, value);
    if (read.ok() && value) into.emplace_back(name, std::move(*value));
    return read;
}

// Sets each of `attributes` on `path` (with `only_changed`, those that do not read as they
// should), then reads every one back.
Result give(Volume& volume, const std::string& path, const Attributes& attributes,
            bool only_changed) {
    for (const auto& [name, value] : attributes) {
        std::optional<std::string> now;
        if (only_changed) {
            if (const Result read = volume.attribute(path, name, now); !read.ok()) return read;
            if (now == value) continue;
        }
        if (const Result set = volume.set_attribute(path, name, value); !set.ok()) return set;
    }
    for (const auto& [name, value] : attributes) {
        std::optional<std::string> now;
        if (const Result read = volume.attribute(path, name, now); !read.ok()) return read;
        if (now != value)
            return Result::refused("the attribute " + name + " of " + path +
                                   " does not read back as it was set");
    }
    return {};
}

// Gives `path` the owner and mode of `facts` where they differ (with `always`, in any case),
// and reads them back.
Result give_owner(Volume& volume, const std::string& path, const FileFacts& facts, bool always) {
    if (!volume.has_modes()) return {};
    FileFacts now;
    if (!always) {
        if (const Result read = volume.stat(path, now); !read.ok()) return read;
        always = now.owner != facts.owner || now.group != facts.group || now.mode != facts.mode;
    }
    if (always) {
        if (const Result set = volume.set_owner(path, facts.owner, facts.group, facts.mode);
            !set.ok())
            return set;
        if (const Result read = volume.stat(path, now); !read.ok()) return read;
    }
    if (now.owner != facts.owner || now.group != facts.group || now.mode != facts.mode)
        return Result::refused("the owner and mode of " + path + " do not read back as set");
    return {};
}

// Removes from `path` every listed attribute that `kept` does not name: what a new file was given
// and the old one lacks (an access ACL inherited from its folder's default ACL, which would let
// more read the hive once its mode is widened).
Result remove_others(Volume& volume, const std::string& path, const Attributes& kept) {
    std::vector<std::string> names;
    if (const Result listed = volume.list_attributes(path, names); !listed.ok()) return listed;
    for (const auto& name : names) {
        const auto same = [&](const auto& attribute) { return attribute.first == name; };
        if (std::find_if(kept.begin(), kept.end(), same) == kept.end())
            if (const Result gone = volume.remove_attribute(path, name); !gone.ok()) return gone;
    }
    return {};
}

// Gives `path` the inode flags `flags` where it has others (a folder's, inherited), and reads
// them back. Before any data: some (no copy-on-write) take only on an empty file.
Result give_flags(Volume& volume, const std::string& path, unsigned flags) {
    unsigned now = 0;
    if (const Result read = volume.flags(path, now); !read.ok() || now == flags) return read;
    if (const Result set = volume.set_flags(path, flags); !set.ok()) return set;
    if (const Result read = volume.flags(path, now); !read.ok()) return read;
    if (now != flags) return Result::refused("the inode flags of " + path + " do not read back as set");
    return {};
}

}  // namespace

Result read_security(Volume& volume, const std::string& path, Security& security) {
    security = {};
    if (const Result read = volume.stat(path, security.facts); !read.ok()) return read;
    if (const Result read = volume.flags(path, security.flags); !read.ok()) return read;
    std::vector<std::string> names;
    if (const Result read = volume.list_attributes(path, names); !read.ok()) return read;
    if (std::find(names.begin(), names.end(), kNtfsDescriptor) == names.end())
        names.push_back(kNtfsDescriptor);
    for (const auto& name : names)
        if (!is_late(name))
            if (const Result read = read_into(volume, path, name, security.early); !read.ok())
                return read;
    for (const char* name : kLate)
        if (const Result read = read_into(volume, path, name, security.late); !read.ok())
            return read;
    return {};
}

Result give_security(Volume& volume, const std::string& path, const Security& security) {
    // The owner and mode first: a change of mode rewrites a POSIX ACL's mask.
    if (const Result given = give_owner(volume, path, security.facts, true); !given.ok())
        return given;
    if (const Result given = give(volume, path, security.early, false); !given.ok()) return given;
    if (const Result gone = remove_others(volume, path, security.early); !gone.ok()) return gone;
    if (const Result given = give_flags(volume, path, security.flags); !given.ok()) return given;
    return give_owner(volume, path, security.facts, false);
}

Result keep_security_after_write(Volume& volume, const std::string& path,
                                 const Security& security) {
    if (const Result given = give_owner(volume, path, security.facts, false); !given.ok())
        return given;
    if (const Result given = give(volume, path, security.early, true); !given.ok()) return given;
    return give(volume, path, security.late, false);
}

}  // namespace endpointfix::offline
