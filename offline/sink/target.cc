#include "offline/sink/target.h"

#include <strings.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <vector>

#include "offline/load/path_parts.h"

namespace endpointfix::offline {
namespace {

constexpr char kMark[] = ".endpointfix-";
constexpr std::size_t kLetters = 6;

bool same_without_case(const std::string& a, const std::string& b) {
    return a.size() == b.size() && strncasecmp(a.c_str(), b.c_str(), a.size()) == 0;
}

Result unchanged(Volume& volume, const Target& target, const FileFacts& now) {
    const bool other_file = target.file && *target.file != std::pair{now.device, now.inode};
    if (other_file || (target.size && *target.size != now.size))
        return Result::refused("changed since it was read; run again");
    if (!target.sha256) return {};
    std::string digest;
    if (const Result read = volume.sha256(target.path, digest); !read.ok()) return read;
    return digest == *target.sha256 ? Result{} : Result::refused("changed since it was read; run again");
}

// Where the hive's one other name is a NAME.bak of the same file, a run stopped between linking
// its backup and its rename left it: that name goes (the hive keeps its bytes), and `cleared`
// says so. Any other name refuses the hive.
Result only_name(Volume& volume, const Target& target, const FileFacts& hive,
                 const std::vector<std::string>& backups, std::string& cleared) {
    if (hive.links == 1) return {};
    const Result refused =
        Result::refused("has other names (hard links), which would keep the old hive");
    if (hive.links != 2 || backups.size() != 1) return refused;
    const std::string backup = sibling_path(target.path, backups.front());
    FileFacts facts;
    if (const Result read = volume.stat(backup, facts); !read.ok()) return read;
    if (facts.device != hive.device || facts.inode != hive.inode) return refused;
    if (const Result gone = volume.remove(backup); !gone.ok()) return gone;
    cleared = "removed " + backups.front() +
              ", a second name of the hive that a run stopped before its rename left";
    return {};
}

// Removes the regular files beside the hive that is_leftover_of names and a run of this program
// can have made: where the volume has owners, those of the hive's owner (the security it is given
// before any byte of the hive) or of this process's user (a run stopped before that); another
// user's file of that name is that user's. Adds the names of those removed to `removed`.
Result remove_leftovers(Volume& volume, const Target& target, const FileFacts& hive,
                        const std::vector<std::string>& names, std::vector<std::string>& removed) {
    const std::string hive_name = split_path(target.path).name;
    for (const auto& name : names) {
        FileFacts facts;
        const std::string path = sibling_path(target.path, name);
        if (!is_leftover_of(hive_name, name) || !volume.stat(path, facts).ok() || !facts.regular)
            continue;
        if (volume.has_modes() && facts.owner != hive.owner && facts.owner != volume.creator())
            continue;
        if (const Result gone = volume.remove(path); !gone.ok()) return gone;
        removed.push_back(name);
    }
    return {};
}

// One line: what was cleared, then the files removed, by name.
std::string said(const std::string& cleared, std::vector<std::string> removed) {
    std::sort(removed.begin(), removed.end());
    std::string files;
    for (std::size_t i = 0; i < removed.size(); ++i)
        files += (i == 0 ? "" : i + 1 == removed.size() ? " and " : ", ") + removed[i];
    if (!files.empty())
        files += removed.size() == 1 ? ", left beside it by a run that was stopped"
                                     : ", left beside it by runs that were stopped";
    if (cleared.empty()) return files.empty() ? "" : "removed " + files;
    return cleared + (files.empty() ? "" : ", and " + files);
}

}  // namespace

bool is_leftover_of(const std::string& hive_name, const std::string& file_name) {
    const std::string prefix = "." + hive_name + kMark;
    if (file_name.size() != prefix.size() + kLetters || file_name.compare(0, prefix.size(), prefix))
        return false;
    for (std::size_t i = prefix.size(); i < file_name.size(); ++i)
        if (!std::isalnum(static_cast<unsigned char>(file_name[i]))) return false;
    return true;
}

Result check_target(Volume& volume, const Target& target, std::string& note) {
    note.clear();
    FileFacts hive;
    if (const Result read = volume.stat(target.path, hive); !read.ok()) return read;
    if (!hive.regular) return Result::refused("is not a regular file");
    if (const Result same = unchanged(volume, target, hive); !same.ok()) return same;
    const PathParts parts = split_path(target.path);
    std::vector<std::string> names, backups;
    if (const Result listed = volume.list(parts.folder, names); !listed.ok()) return listed;
    for (const auto& name : names)
        if (same_without_case(name, parts.name + ".bak")) backups.push_back(name);
    std::string cleared;
    if (const Result one = only_name(volume, target, hive, backups, cleared); !one.ok()) return one;
    if (target.backup && cleared.empty() && !backups.empty())
        return Result::refused(sibling_path(target.path, backups.front()) + " is there already");
    std::vector<std::string> removed;
    const Result gone = remove_leftovers(volume, target, hive, names, removed);
    note = said(cleared, removed);
    return gone;
}

}  // namespace endpointfix::offline
