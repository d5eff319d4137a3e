// The report of --apply, held in memory until the hive has its changes: it is small, and no file
// system can fail it (a full or read-only /tmp).
#pragma once

#include <cstdio>
#include <cstdlib>

namespace endpointfix::offline {

class HeldReport {
public:
    HeldReport() : stream_(open_memstream(&text_, &size_)) {}
    ~HeldReport() {
        if (stream_ != nullptr) std::fclose(stream_);
        std::free(text_);
    }
    HeldReport(const HeldReport&) = delete;
    HeldReport& operator=(const HeldReport&) = delete;

    std::FILE* stream() const { return stream_; }  // null where there is no memory for it
    // Copies what was held to stdout. Whether all of it was written.
    bool print() {
        return std::fflush(stream_) == 0 && std::fwrite(text_, 1, size_, stdout) == size_ &&
               std::fflush(stdout) == 0;
    }

private:
    char* text_ = nullptr;
    std::size_t size_ = 0;
    std::FILE* stream_;
};

}  // namespace endpointfix::offline
