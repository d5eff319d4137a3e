// The sink of an image that could not be opened for writing, and so was attached read-only: a
// report, or an --apply with nothing to change, needs no more; a write-back is refused.
#pragma once

#include <string>
#include <utility>

#include "offline/sink/hive_sink.h"

namespace endpointfix::offline::image {

class ReadOnlyImage final : public HiveSink {
public:
    // `why`: the image's reason, "cannot be opened for writing: Operation not permitted".
    explicit ReadOnlyImage(std::string why) : why_(std::move(why)) {}
    Result claim() override { return {}; }
    SinkResult put(const NewHive&) override {
        return {Result::refused("the changes cannot be written: the image " + why_ +
                                "; the image is as it was")};
    }

private:
    std::string why_;
};

}  // namespace endpointfix::offline::image
