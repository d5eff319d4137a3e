// A standard stream held while one image of a --json batch is serviced: what the run prints is
// taken, so that its document can name the image, and a document still be given for an image
// whose run printed none (refused), with the reason it said.
#pragma once

#include <cstdio>
#include <optional>
#include <string>

namespace endpointfix::offline::image {

class HeldOutput {
public:
    // Points `stream` (stdout or stderr, whose descriptor is `fd`) at a temporary file, after
    // flushing it. held() is false where that could not be done: the stream then stands as it was.
    HeldOutput(std::FILE* stream, int fd);
    ~HeldOutput();
    HeldOutput(const HeldOutput&) = delete;
    HeldOutput& operator=(const HeldOutput&) = delete;
    bool held() const { return saved_ >= 0; }
    // Points the stream back, and returns what was printed meanwhile; nothing where it cannot be
    // read back whole.
    std::optional<std::string> release();

private:
    std::FILE* stream_;
    int fd_;
    int saved_ = -1;
    std::FILE* file_ = nullptr;
};

}  // namespace endpointfix::offline::image
