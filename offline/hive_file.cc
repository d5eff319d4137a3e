#include "offline/hive_file.h"

#include <dirent.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "offline/log_replay.h"

namespace endpointfix::offline {
namespace {

constexpr std::size_t kBaseBlock = 4096;

std::uint32_t u32(const std::uint8_t* p) {
    return p[0] | p[1] << 8 | p[2] << 16 | std::uint32_t{p[3]} << 24;
}

bool same_no_case(const std::string& a, const std::string& b) {
    return a.size() == b.size() && strncasecmp(a.c_str(), b.c_str(), a.size()) == 0;
}

}  // namespace

HiveFileState inspect_hive_file(int fd) {
    HiveFileState state;
    struct stat st;
    if (fstat(fd, &st) != 0) return {std::strerror(errno)};
    if (S_ISDIR(st.st_mode)) return {"is a directory"};
    if (!S_ISREG(st.st_mode)) return {"is not a regular file"};
    if (st.st_size == 0) return {"is empty"};
    std::uint8_t head[kBaseBlock + 32];
    const ssize_t got = pread(fd, head, sizeof(head), 0);
    if (got < 0) return {std::string("cannot be read: ") + std::strerror(errno)};
    if (got < 4 || std::memcmp(head, "regf", 4) != 0) return {"is not a registry hive file"};
    if (got < static_cast<ssize_t>(kBaseBlock)) return {"is truncated inside its base block"};
    if (base_block_checksum(head) != u32(head + 0x1fc))
        return {"has a damaged base block (wrong checksum)"};
    if (u32(head + 0x1c) != 0) return {"is a transaction log, not a primary hive file"};
    const std::uint64_t bins = u32(head + 0x28);
    if (bins == 0 || bins % 4096 != 0) return {"has a damaged base block (size of its bins)"};
    if (kBaseBlock + bins > static_cast<std::uint64_t>(st.st_size))
        return {"is truncated: shorter than its base block declares"};
    if (got < static_cast<ssize_t>(sizeof(head)) ||
        std::memcmp(head + kBaseBlock, "hbin", 4) != 0 || u32(head + kBaseBlock + 4) != 0)
        return {"has a damaged first bin"};
    state.size = kBaseBlock + bins;
    state.sequence = u32(head + 4);
    state.dirty = u32(head + 4) != u32(head + 8);
    return state;
}

std::string HivePath::label() const {
    return file == given ? given : given + " (a link to " + file + ")";
}

HivePath resolve_hive_path(const std::string& given) {
    struct stat st;
    if (lstat(given.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return {given, given};
    // A link to nothing stays as named: opening it says that it names no file.
    char* target = realpath(given.c_str(), nullptr);
    if (target == nullptr) return {given, given};
    HivePath path{given, target};
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
    const auto cut = hive.rfind('/');
    const std::string folder = cut == std::string::npos ? "." : hive.substr(0, cut + 1);
    const std::string name = cut == std::string::npos ? hive : hive.substr(cut + 1);
    std::vector<std::string> logs;
    DIR* dir = opendir(folder.c_str());
    if (dir == nullptr) return logs;
    while (const dirent* entry = readdir(dir)) {
        const std::string other = entry->d_name;
        if (is_transaction_log(name, other)) logs.push_back(folder == "." ? other : folder + other);
    }
    closedir(dir);
    std::sort(logs.begin(), logs.end());
    return logs;
}

}  // namespace endpointfix::offline
