// The image helper's sink: --apply's new hive written back into the disk image.
#pragma once

#include <csignal>
#include <string>

#include "offline/sink/hive_sink.h"
#include "offline/image/write_back.h"

namespace endpointfix::offline::image {

// Writes the new hive into `folder` (the private folder the hive was copied out into), has it
// verified there, and writes it back into `image` in place of the hive `read` describes
// (write_back, with `backup` and `interrupted`).
class ImageSink final : public HiveSink {
public:
    ImageSink(const std::string& image, const HiveRead& read, const std::string& folder,
              bool backup, const volatile std::sig_atomic_t& interrupted)
        : image_(image), read_(read), folder_(folder), backup_(backup), interrupted_(interrupted) {}
    SinkResult put(const std::function<int(const char*)>& write,
                   const std::function<std::string(int fd)>& verify) override;

private:
    const std::string& image_;
    const HiveRead& read_;
    const std::string& folder_;
    bool backup_;
    const volatile std::sig_atomic_t& interrupted_;
};

}  // namespace endpointfix::offline::image
