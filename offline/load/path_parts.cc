#include "offline/load/path_parts.h"

namespace endpointfix::offline {
namespace {

// `path` without the slashes it ends with, but the first character.
std::string without_trailing_slashes(const std::string& path) {
    auto end = path.find_last_not_of('/');
    return path.substr(0, end == std::string::npos ? (path.empty() ? 0 : 1) : end + 1);
}

}  // namespace

PathParts split_path(const std::string& path) {
    const std::string trimmed = without_trailing_slashes(path);
    if (trimmed == "/") return {"/", ""};
    const auto cut = trimmed.rfind('/');
    if (cut == std::string::npos) return {".", trimmed};
    const std::string folder = without_trailing_slashes(trimmed.substr(0, cut + 1));
    return {folder, trimmed.substr(cut + 1)};
}

std::string sibling_path(const std::string& path, const std::string& name) {
    if (without_trailing_slashes(path).find('/') == std::string::npos) return name;
    const std::string folder = split_path(path).folder;
    return folder == "/" ? "/" + name : folder + "/" + name;
}

}  // namespace endpointfix::offline
