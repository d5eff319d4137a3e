#include "offline/image/bounded_write_back.h"

#include <sys/statvfs.h>

#include <cerrno>

#include "offline/image/progress.h"
#include "offline/interrupts.h"

namespace endpointfix::offline::image {
namespace {

constexpr std::uint64_t kMiB = 1 << 20;
// The filesystem's metadata and journal, and the format's tables, whatever the hive's size.
constexpr std::uint64_t kMetadata = 16 * kMiB;

std::string mebibytes(std::uint64_t bytes) { return std::to_string((bytes + kMiB - 1) / kMiB) + " MiB"; }

}  // namespace

std::uint64_t growth_bound(std::uint64_t hive_size) { return 2 * hive_size + kMetadata; }

std::optional<std::uint64_t> BoundedWriteBack::room() const {
    struct statvfs fs;
    if (statvfs(image_.c_str(), &fs) != 0) return std::nullopt;
    return static_cast<std::uint64_t>(fs.f_bavail) * fs.f_frsize;
}

SinkResult BoundedWriteBack::put(const NewHive& hive) {
    const std::uint64_t needed = growth_bound(hive.size);
    if (const auto free = room(); free && *free < needed)
        return {Result::refused("no room to write back: the file system holding " + image_ +
                                " has " + mebibytes(*free) + " free, and the image may grow by " +
                                mebibytes(needed) + "; nothing is written, the image is as it was")};
    progress("writing the new hive back into " + image_);
    watchdog_.writing(true);
    SinkResult result = inner_.put(hive);
    watchdog_.writing(false, interrupting_signal());
    // QEMU reports a failed write to the guest as an I/O error (its drives' error policy), which
    // the guest's page cache may keep from the calls that wrote: a file system left with no room
    // at all may not have taken every write, however the write-back ended.
    const auto free = room();
    if (result.result.ok() && free && *free == 0) {
        result.result = Result(ENOSPC, "no space left on the file system holding " + image_ +
                                           ": the image may not hold what was written");
        return result;
    }
    if (result.result.ok()) return result;
    if (free && *free < needed)
        result.result = Result(ENOSPC, "no space left on the file system holding " + image_ + ": " +
                                           result.result.message());
    else if (watchdog_.out_of_time())
        result.result = result.result.and_then_say(" (the run took longer than its bound of " +
                                                   std::to_string(watchdog_.bound().count()) + " s)");
    return result;
}

}  // namespace endpointfix::offline::image
