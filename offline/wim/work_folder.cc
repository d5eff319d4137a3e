#include "offline/wim/work_folder.h"

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>

namespace endpointfix::offline::wim {
namespace {

constexpr char kPrefix[] = "endpointfix-wim.";

std::string temporary_root() {
    const char* tmp = std::getenv("TMPDIR");
    return tmp != nullptr && *tmp != '\0' ? tmp : "/tmp";
}

// The process that made the work folder `name`; 0 where the name is not one.
pid_t maker_of(const std::string& name) {
    const std::string prefix = kPrefix;
    if (name.compare(0, prefix.size(), prefix) != 0) return 0;
    const std::size_t dot = name.find('.', prefix.size());
    const std::string digits = name.substr(prefix.size(), dot - prefix.size());
    if (dot == std::string::npos || digits.empty() || digits.size() > 9 ||
        digits.find_first_not_of("0123456789") != std::string::npos)
        return 0;
    return static_cast<pid_t>(std::stol(digits));
}

}  // namespace

WorkFolder::WorkFolder() {
    std::string name = temporary_root() + "/" + kPrefix + std::to_string(getpid()) + ".XXXXXX";
    // mkdtemp makes it 0700.
    if (mkdtemp(name.data()) != nullptr) path_ = name;
}

WorkFolder::~WorkFolder() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
}

int remove_dead_work_folders() {
    std::error_code error;
    int removed = 0;
    for (const auto& entry : std::filesystem::directory_iterator(temporary_root(), error)) {
        const pid_t maker = maker_of(entry.path().filename().string());
        std::error_code ignored;
        if (maker > 0 && kill(maker, 0) != 0 && errno == ESRCH && entry.is_directory(ignored) &&
            !entry.is_symlink(ignored) && std::filesystem::remove_all(entry.path(), ignored) > 0)
            ++removed;
    }
    return removed;
}

}  // namespace endpointfix::offline::wim
