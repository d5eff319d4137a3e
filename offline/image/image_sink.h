// The image helper's sink: --apply's new hive written back into the disk image.
#pragma once

#include <csignal>
#include <string>

#include "offline/sink/hive_sink.h"
#include "offline/image/write_back.h"

namespace endpointfix::offline::image {

// Writes the new hive back into `image` in place of the hive `read` describes (write_back, with
// `backup` and `interrupted`); `folder` is the private folder the hive was copied out into.
class ImageSink final : public HiveSink {
public:
    ImageSink(const std::string& image, const HiveRead& read, const std::string& folder,
              bool backup, const volatile std::sig_atomic_t& interrupted)
        : image_(image), read_(read), folder_(folder), backup_(backup), interrupted_(interrupted) {}
    // The image is read into a private copy, which no other run shares: nothing to lock.
    Result claim(std::string& note) override { return note.clear(), Result{}; }
    SinkResult put(const NewHive& hive) override;

private:
    const std::string& image_;
    const HiveRead& read_;
    const std::string& folder_;
    bool backup_;
    const volatile std::sig_atomic_t& interrupted_;
};

}  // namespace endpointfix::offline::image
