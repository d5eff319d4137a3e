#include "offline/sink/replace.h"

#include <cctype>
#include <cerrno>
#include <functional>
#include <random>

#include "offline/load/path_parts.h"
#include "offline/sink/held_signals.h"
#include "offline/sink/security.h"

namespace endpointfix::offline {
namespace {

constexpr char kMark[] = ".endpointfix-";
constexpr std::size_t kLetters = 6;
constexpr char kAsItWas[] = "; the hive is as it was";

std::string temporary_name(const std::string& hive_name) {
    static constexpr char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    static std::mt19937 random{std::random_device{}()};
    std::string name = "." + hive_name + kMark;
    for (std::size_t i = 0; i < kLetters; ++i) name += kAlphabet[random() % (sizeof(kAlphabet) - 1)];
    return name;
}

// Creates the new file beside `target`, under a name no other file has, and sets `temp` to it.
Result create_beside(Volume& volume, const std::string& target, std::string& temp) {
    Result made;
    for (int tries = 0; tries < 16; ++tries) {
        const std::string path = sibling_path(target, temporary_name(split_path(target).name));
        made = volume.create(path);
        if (made.ok()) temp = path;
        if (made.code() != EEXIST) break;
    }
    return made;
}

// The old hive's security, where it is a regular file, and no backup is in the way.
Result read_old(Volume& volume, const std::string& target, bool backup, Security& security) {
    if (const Result read = read_security(volume, target, security); !read.ok()) return read;
    if (!security.facts.regular) return Result::refused("is not a regular file");
    if (!backup) return {};
    FileFacts facts;
    const Result there = volume.stat(target + ".bak", facts);
    if (there.ok()) return Result::refused(target + ".bak is there already");
    return there.code() == ENOENT ? Result{} : there;
}

Result read_back(Volume& volume, const std::string& temp, const NewHive& hive) {
    bool same = false;
    if (const Result read = volume.holds(temp, hive.fd, hive.size, same); !read.ok()) return read;
    if (!same) return Result::refused("the new hive does not read back as written");
    return {};
}

// The rename, and the folder's sync after it, with the signals that end a process held: none
// may end the run between them, and one that came before the rename stops it.
Result put_in_place(Volume& volume, const std::string& temp, const std::string& target,
                    const volatile std::sig_atomic_t& interrupted, bool& wrote) {
    const HeldSignals held;
    if (interrupted != 0) return Result::refused("interrupted");
    if (const Result renamed = volume.rename(temp, target); !renamed.ok()) return renamed;
    wrote = true;
    const Result synced = volume.sync_folder(split_path(target).folder);
    if (!synced.ok()) return {synced.code(), "replaced the hive, but " + synced.message()};
    return {};
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

SinkResult replace_hive(Volume& volume, const std::string& target, const NewHive& hive,
                        bool backup, const volatile std::sig_atomic_t& interrupted) {
    Security security;
    std::string temp;
    bool linked = false;
    const std::function<Result()> steps[] = {
        [&] { return read_old(volume, target, backup, security); },
        [&] { return create_beside(volume, target, temp); },
        [&] { return give_security(volume, temp, security); },  // before any byte of the hive
        [&] { return volume.write(temp, hive.fd, hive.size); },
        [&] { return keep_security_after_write(volume, temp, security); },
        [&] { return volume.sync(temp); },
        [&] { return read_back(volume, temp, hive); },
        [&] {
            const Result kept = backup ? volume.link(target, target + ".bak") : Result{};
            linked = backup && kept.ok();
            return kept;
        },
    };
    SinkResult result;
    for (const auto& step : steps) {
        result.result = interrupted != 0 ? Result::refused("interrupted") : step();
        if (!result.result.ok()) break;
    }
    if (result.result.ok())
        result.result = put_in_place(volume, temp, target, interrupted, result.wrote);
    if (result.wrote) return result;
    std::string left;
    if (!temp.empty() && !volume.remove(temp).ok()) left = temp;
    if (linked && !volume.remove(target + ".bak").ok()) left += (left.empty() ? "" : " and ") + target + ".bak";
    result.result = result.result.and_then_say(
        kAsItWas + (left.empty() ? "" : ", but " + left + " could not be removed"));
    return result;
}

Result remove_leftovers(Volume& volume, const std::string& target, std::string& note) {
    note.clear();
    const PathParts parts = split_path(target);
    std::vector<std::string> names;
    if (const Result listed = volume.list(parts.folder, names); !listed.ok()) return listed;
    int removed = 0;
    for (const auto& name : names) {
        FileFacts facts;
        const std::string path = sibling_path(target, name);
        if (!is_leftover_of(parts.name, name) || !volume.stat(path, facts).ok() || !facts.regular)
            continue;
        if (const Result gone = volume.remove(path); !gone.ok()) return gone;
        ++removed;
    }
    if (removed == 1) note = "removed a file left beside it by a run that was stopped";
    if (removed > 1)
        note = "removed " + std::to_string(removed) + " files left beside it by runs that were stopped";
    return {};
}

}  // namespace endpointfix::offline
