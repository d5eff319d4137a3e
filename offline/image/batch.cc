#include "offline/image/batch.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <map>
#include <utility>

#include "offline/image/image_file.h"
#include "registry/result.h"

namespace endpointfix::offline::image {
namespace {

// Why `image` cannot be opened for writing (immutable, on a read-only mount, no permission).
std::string unwritable(const std::string& image) {
    const int fd = open(image.c_str(), O_RDWR | O_CLOEXEC);
    if (fd >= 0) {
        close(fd);
        return "";
    }
    return failed("cannot be opened for writing", errno).message();
}

}  // namespace

std::vector<Planned> plan_images(const std::vector<std::string>& images, bool writable) {
    std::vector<Planned> plan;
    std::map<std::pair<dev_t, ino_t>, std::string> seen;
    for (const std::string& image : images) {
        Planned one;
        one.image = one.drive.image = image;
        if (const Result usable = unusable_image(image); !usable.ok()) one.refused = usable.message();
        struct stat st;
        if (one.refused.empty() && stat(image.c_str(), &st) == 0) {
            const auto [first, fresh] = seen.insert({{st.st_dev, st.st_ino}, image});
            if (!fresh) one.same_as = first->second;
        }
        if (one.refused.empty() && one.same_as.empty() && writable) {
            one.unwritable = unwritable(image);
            one.drive.read_only = !one.unwritable.empty();
        }
        if (one.refused.empty() && one.same_as.empty()) {
            ImageFormat format;
            if (const Result probed = probe_image(image, format); !probed.ok())
                one.refused = probed.message();
            else if (format.has_backing_file)
                one.refused = backing_file_refusal(image, format.format);
            else
                one.drive.format = format.format;
        }
        plan.push_back(std::move(one));
    }
    return plan;
}

}  // namespace endpointfix::offline::image
