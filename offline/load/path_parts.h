// A path split into the folder that holds it and its name there, the one way every part of the
// offline programs does it (the hive's folder takes its logs, the new file, the backup and the
// flush after a rename).
#pragma once

#include <string>

namespace endpointfix::offline {

struct PathParts {
    std::string folder;  // "." for a bare name, "/" for a name in the root folder
    std::string name;    // empty only for a path that is all slashes (the root itself)
};

// Trailing slashes are no part of the name, and repeated ones are one: "/a/b/" is b in "/a",
// "/x" is x in "/", "x" is x in ".".
PathParts split_path(const std::string& path);

// The path of `name` in the folder of `path`, spelt as `path` spells its folder: "a/b" gives
// "a/NAME", "/b" gives "/NAME", and "b" gives "NAME".
std::string sibling_path(const std::string& path, const std::string& name);

}  // namespace endpointfix::offline
