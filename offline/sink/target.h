// The hive a replace puts a new one in place of, and every check made before it, for both front
// ends, on the facts their Volume gives: written once, here.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "offline/sink/volume.h"

namespace endpointfix::offline {

struct Target {
    Target(std::string at, bool keep_backup = false) : path(std::move(at)), backup(keep_backup) {}
    std::string path;     // on the volume
    bool backup = false;  // the old hive is to stay as PATH.bak
    // The hive as the front end read it, each where it can tell: the same file, its size, its
    // SHA-256 (lower-case hex).
    std::optional<std::pair<std::uint64_t, std::uint64_t>> file;  // device, inode
    std::optional<std::uint64_t> size;
    std::optional<std::string> sha256;
};

// Whether `name` is one that runs of this program make beside a hive `hive_name`, and only
// they: ".NAME.endpointfix-XXXXXX", six letters or digits.
bool is_leftover_of(const std::string& hive_name, const std::string& file_name);

// Why the hive may not be replaced, or nothing, in a phrase that follows its name: it is not a
// regular file; it is not the file that was read, or has changed since; it has other names
// (hard links: a rename would leave them the old hive); with `backup`, a NAME.bak (in any letter
// case: hives are Windows files) is there. Call it only while holding what makes this run the
// only one that replaces the hive (HiveSink::claim): it clears first what only a run of this
// program that was stopped can have left, saying so in one line in `note`: the backup's name
// linked before its rename (a NAME.bak, the hive's only other name, in any case), and the
// new files beside it that is_leftover_of names (regular files only; where the volume has owners,
// the hive's owner's or this process's user's), each by name.
Result check_target(Volume& volume, const Target& target, std::string& note);

}  // namespace endpointfix::offline
