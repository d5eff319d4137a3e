#include "offline/sink/replace.h"

#include <cerrno>
#include <functional>
#include <random>

#include "offline/load/path_parts.h"
#include "offline/sink/held_signals.h"
#include "offline/sink/security.h"

namespace endpointfix::offline {
namespace {

// A name is_leftover_of knows.
std::string temporary_name(const std::string& hive_name) {
    static constexpr char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    static std::mt19937 random{std::random_device{}()};
    std::string name = "." + hive_name + ".endpointfix-";
    for (int i = 0; i < 6; ++i) name += kAlphabet[random() % (sizeof(kAlphabet) - 1)];
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

// Runs `steps` in turn until one fails or `interrupted` is set.
Result run_steps(const std::vector<std::function<Result()>>& steps,
                 const volatile std::sig_atomic_t& interrupted) {
    for (const auto& step : steps) {
        const Result done = interrupted != 0 ? Result::refused("interrupted") : step();
        if (!done.ok()) return done;
    }
    return {};
}

}  // namespace

SinkResult replace_hive(Volume& volume, const Target& target, const NewHive& hive,
                        const volatile std::sig_atomic_t& interrupted) {
    const std::string& path = target.path;
    Security security;
    std::string temp;
    bool linked = false;
    SinkResult result;
    result.result = run_steps(
        {[&] { return check_target(volume, target, result.note); },
         [&] { return read_security(volume, path, security); },
         [&] { return create_beside(volume, path, temp); },
         [&] { return give_security(volume, temp, security); },  // before any byte of the hive
         [&] { return volume.write(temp, hive.fd, hive.size); },
         [&] { return keep_security_after_write(volume, temp, security); },
         [&] { return volume.sync(temp); },
         [&] { return read_back(volume, temp, hive); },
         [&] {
             const Result kept = target.backup ? volume.link(path, path + ".bak") : Result{};
             linked = target.backup && kept.ok();
             return kept;
         }},
        interrupted);
    if (result.result.ok())
        result.result = put_in_place(volume, temp, path, interrupted, result.wrote);
    if (result.wrote) return result;
    std::string left;
    if (!temp.empty() && !volume.remove(temp).ok()) left = temp;
    if (linked && !volume.remove(path + ".bak").ok()) left += (left.empty() ? "" : " and ") + path + ".bak";
    result.result = result.result.and_then_say(
        kAsItWas + (left.empty() ? "" : ", but " + left + " could not be removed"));
    return result;
}

Result create_hive_file(Volume& volume, const std::string& path, const NewHive& hive,
                        unsigned mode) {
    const HeldSignals held;
    const volatile std::sig_atomic_t never = 0;
    std::string temp;
    FileFacts made;
    Result done = run_steps(
        {[&] { return create_beside(volume, path, temp); },
         [&] { return volume.stat(temp, made); },
         [&] { return volume.set_owner(temp, made.owner, made.group, mode); },
         [&] { return volume.write(temp, hive.fd, hive.size); },
         [&] { return volume.sync(temp); },
         [&] { return read_back(volume, temp, hive); },
         [&] {
             const Result linked = volume.link(temp, path);
             if (linked.code() == EEXIST)
                 return Result::refused("exists already, and is not overwritten");
             return linked;
         }},
        never);
    const bool created = done.ok();
    if (!temp.empty() && !volume.remove(temp).ok() && created)
        done = Result::refused("created, but " + temp + " could not be removed");
    if (!created) return done;
    const Result synced = volume.sync_folder(split_path(path).folder);
    if (!synced.ok()) return {synced.code(), "created, but " + synced.message()};
    return done;
}

}  // namespace endpointfix::offline
