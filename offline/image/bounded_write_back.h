// The write-back of one image, bounded: refused before anything is written where the file system
// that holds the image has no room for what the image can grow by, and watched (watchdog.h) while
// it runs; a write-back that failed as that file system filled says so, and so does one that
// seemed to succeed but left that file system with no room at all (a write may have failed).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>

#include "offline/image/watchdog.h"
#include "offline/sink/hive_sink.h"

namespace endpointfix::offline::image {

// What a write-back of a hive of `hive_size` bytes can make an image grow by, at most: the new
// file (the old one stays until the rename, and as the backup), the filesystem's metadata and
// journal it touches, and the image format's own tables (a qcow2 image allocates clusters of
// 64 KiB as they are first written, with their tables).
std::uint64_t growth_bound(std::uint64_t hive_size);

class BoundedWriteBack final : public HiveSink {
public:
    BoundedWriteBack(HiveSink& inner, std::string image, Watchdog& watchdog)
        : inner_(inner), image_(std::move(image)), watchdog_(watchdog) {}
    Result claim() override { return inner_.claim(); }
    SinkResult put(const NewHive& hive) override;

private:
    // The bytes free to this program on the file system holding the image; nothing where unknown.
    std::optional<std::uint64_t> room() const;
    HiveSink& inner_;
    std::string image_;
    Watchdog& watchdog_;
};

}  // namespace endpointfix::offline::image
