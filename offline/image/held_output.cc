#include "offline/image/held_output.h"

#include <unistd.h>

namespace endpointfix::offline::image {

HeldOutput::HeldOutput(std::FILE* stream, int fd) : stream_(stream), fd_(fd) {
    file_ = std::tmpfile();
    if (file_ == nullptr || std::fflush(stream_) != 0) return;
    saved_ = dup(fd_);
    if (saved_ >= 0 && dup2(fileno(file_), fd_) < 0) {
        close(saved_);
        saved_ = -1;
    }
}

HeldOutput::~HeldOutput() {
    (void)release();
    if (file_ != nullptr) std::fclose(file_);
}

std::optional<std::string> HeldOutput::release() {
    if (saved_ < 0) return std::nullopt;
    const bool flushed = std::fflush(stream_) == 0;
    dup2(saved_, fd_);
    close(saved_);
    saved_ = -1;
    std::clearerr(stream_);
    std::string text;
    std::rewind(file_);
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof(buffer), file_)) > 0;) text.append(buffer, n);
    if (!flushed || std::ferror(file_)) return std::nullopt;
    return text;
}

}  // namespace endpointfix::offline::image
