#include "offline/wim/wim_header.h"

#include <fcntl.h>
#include <unistd.h>

namespace endpointfix::offline::wim {

constexpr std::string_view kMagic{"MSWIM\0\0\0", 8};
constexpr std::string_view kPipableMagic{"WLPWM\0\0\0", 8};

bool is_wim_header(std::string_view bytes) {
    const std::string_view head = bytes.substr(0, kMagic.size());
    return head == kMagic || head == kPipableMagic;
}

bool is_wim_file(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return false;
    char head[kMagic.size()];
    const ssize_t got = pread(fd, head, sizeof head, 0);
    close(fd);
    return got == static_cast<ssize_t>(sizeof head) && is_wim_header({head, sizeof head});
}

}  // namespace endpointfix::offline::wim
