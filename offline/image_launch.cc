#include "offline/image_launch.h"

#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <string>
#include <vector>

#include "registry/result.h"

namespace endpointfix::offline {

int start_image_helper(char** argv, bool wim) {
    const std::string name = wim ? "endpointfix-offline-wim" : "endpointfix-offline-image";
    char self[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", self, sizeof(self) - 1);
    const std::string program =
        length > 0 ? std::string(self, static_cast<std::size_t>(length)) : "";
    const std::string folder = program.substr(0, program.rfind('/') + 1);
    std::vector<char*> args{nullptr};
    for (char** arg = argv + 1; *arg != nullptr; ++arg) args.push_back(*arg);
    args.push_back(nullptr);
    int error = ENOENT;
    for (const std::string place : {"", "../libexec/"}) {
        const std::string helper = folder + place + name;
        if (program.empty() || access(helper.c_str(), F_OK) != 0) continue;
        args[0] = const_cast<char*>(helper.c_str());
        execv(helper.c_str(), args.data());
        error = errno;
    }
    const Result missing = failed("--image needs the program " + name, error);
    std::fprintf(stderr,
                 "endpointfix-offline: %s; install the package %s, which brings %s\n",
                 missing.message().c_str(), name.c_str(), wim ? "wimlib" : "libguestfs");
    return 2;
}

}  // namespace endpointfix::offline
