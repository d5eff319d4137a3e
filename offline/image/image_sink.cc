#include "offline/image/image_sink.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "offline/load/path_parts.h"

namespace endpointfix::offline::image {

SinkResult ImageSink::put(const std::function<int(const char*)>& write,
                          const std::function<std::string(int fd)>& verify) {
    const auto as_it_was = [](const std::string& why, int error) {
        return SinkResult{why + (error != 0 ? std::string(": ") + std::strerror(error) : "") +
                          "; the image is as it was"};
    };
    const std::string local = folder_ + "/.new-hive";
    if (const int error = write(local.c_str()); error != 0)
        return as_it_was("cannot write the new hive", error);
    const int fd = open(local.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return as_it_was("cannot reopen the new hive", errno);
    const std::string wrong = verify(fd);
    close(fd);
    if (!wrong.empty()) return as_it_was(wrong, 0);
    SinkResult result;
    // The temporary name in the image is the private folder's, which no other run shares.
    std::string suffix = ".";
    suffix += split_path(folder_).name;
    result.why = write_back(image_, read_, local, backup_, suffix, interrupted_, result.wrote);
    return result;
}

}  // namespace endpointfix::offline::image
