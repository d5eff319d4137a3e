#include "offline/load/hive_file.h"

#include <dirent.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>

#include "offline/load/path_parts.h"
#include "registry/result.h"

namespace endpointfix::offline {
namespace {

bool same_no_case(const std::string& a, const std::string& b) {
    return a.size() == b.size() && strncasecmp(a.c_str(), b.c_str(), a.size()) == 0;
}

}  // namespace

format::HiveFileState inspect_hive_file(int fd) {
    struct stat st;
    if (fstat(fd, &st) != 0) return {failed("cannot be read", errno).message()};
    if (S_ISDIR(st.st_mode)) return {"is a directory"};
    if (!S_ISREG(st.st_mode)) return {"is not a regular file"};
    std::uint8_t head[format::kBaseBlockSize + 32];
    const ssize_t got = st.st_size == 0 ? 0 : pread(fd, head, sizeof(head), 0);
    if (got < 0) return {failed("cannot be read", errno).message()};
    return format::check_hive_file({head, static_cast<std::size_t>(got)},
                           static_cast<std::uint64_t>(st.st_size));
}

std::string HiveSource::label() const { return linked ? name + " (a link to " + file + ")" : name; }

HiveSource resolve_hive_path(const std::string& given) {
    struct stat st;
    if (lstat(given.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return {given, given, false};
    // A link to nothing stays as named: opening it says that it names no file.
    char* target = realpath(given.c_str(), nullptr);
    if (target == nullptr) return {given, given, false};
    HiveSource path{given, target, given != target};
    std::free(target);
    return path;
}

bool is_transaction_log(const std::string& name, const std::string& other) {
    if (other.size() <= name.size() || strncasecmp(other.c_str(), name.c_str(), name.size()))
        return false;
    const std::string suffix = other.substr(name.size());
    for (const char* log : {".LOG", ".LOG1", ".LOG2"})
        if (same_no_case(suffix, log)) return true;
    return false;
}

std::vector<std::string> transaction_logs(const std::string& hive) {
    const PathParts parts = split_path(hive);
    std::vector<std::string> logs;
    DIR* dir = opendir(parts.folder.c_str());
    if (dir == nullptr) return logs;
    while (const dirent* entry = readdir(dir)) {
        const std::string other = entry->d_name;
        if (is_transaction_log(parts.name, other)) logs.push_back(sibling_path(hive, other));
    }
    closedir(dir);
    std::sort(logs.begin(), logs.end());
    return logs;
}

}  // namespace endpointfix::offline
