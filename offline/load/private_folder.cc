#include "offline/load/private_folder.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>

namespace endpointfix::offline {
namespace {

std::string temporary_root() {
    const char* tmp = std::getenv("TMPDIR");
    return tmp != nullptr && *tmp != '\0' ? tmp : "/tmp";
}

std::string prefix_of(const std::string& kind) { return "endpointfix-" + kind + "."; }

// The process that made the folder `name` of `kind`; 0 where the name is not one.
pid_t maker_of(const std::string& kind, const std::string& name) {
    const std::string prefix = prefix_of(kind);
    if (name.compare(0, prefix.size(), prefix) != 0) return 0;
    const std::size_t dot = name.find('.', prefix.size());
    const std::string digits = name.substr(prefix.size(), dot - prefix.size());
    if (dot == std::string::npos || digits.empty() || digits.size() > 9 ||
        digits.find_first_not_of("0123456789") != std::string::npos)
        return 0;
    return static_cast<pid_t>(std::stol(digits));
}

}  // namespace

PrivateFolder::PrivateFolder(const std::string& kind) {
    std::string name = temporary_root() + "/" + prefix_of(kind) + std::to_string(getpid()) + ".XXXXXX";
    if (mkdtemp(name.data()) != nullptr) path_ = name;
}

PrivateFolder::~PrivateFolder() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
}

int remove_dead_private_folders(const std::string& kind) {
    std::error_code error;
    int removed = 0;
    for (const auto& entry : std::filesystem::directory_iterator(temporary_root(), error)) {
        const pid_t maker = maker_of(kind, entry.path().filename().string());
        struct stat st;
        std::error_code ignored;
        if (maker > 0 && kill(maker, 0) != 0 && errno == ESRCH &&
            lstat(entry.path().c_str(), &st) == 0 && S_ISDIR(st.st_mode) &&
            st.st_uid == geteuid() && std::filesystem::remove_all(entry.path(), ignored) > 0)
            ++removed;
    }
    return removed;
}

}  // namespace endpointfix::offline
