#include "offline/image/image_sink.h"

#include "offline/load/path_parts.h"

namespace endpointfix::offline::image {

SinkResult ImageSink::put(const NewHive& hive) {
    SinkResult result;
    // The temporary name in the image is the private folder's, which no other run shares.
    std::string suffix = ".";
    suffix += split_path(folder_).name;
    const std::string why = write_back(image_, read_, "/proc/self/fd/" + std::to_string(hive.fd),
                                       backup_, suffix, interrupted_, result.wrote);
    if (!why.empty()) result.result = Result::refused(why);
    return result;
}

}  // namespace endpointfix::offline::image
