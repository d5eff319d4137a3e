#include "offline/image/batch.h"

#include <sys/stat.h>

#include <set>
#include <utility>

#include "offline/image/image_file.h"

namespace endpointfix::offline::image {

std::vector<Planned> plan_images(const std::vector<std::string>& images) {
    std::vector<Planned> plan;
    std::set<std::pair<dev_t, ino_t>> seen;
    for (const std::string& image : images) {
        Planned one{image, {image, ""}, unusable_image(image)};
        struct stat st;
        if (one.refused.empty() && stat(image.c_str(), &st) == 0 &&
            !seen.insert({st.st_dev, st.st_ino}).second)
            one.refused = "is given twice (as another name too); it is serviced once";
        if (one.refused.empty()) {
            const auto format = probe_image(image, one.refused);
            if (format && format->has_backing_file)
                one.refused = backing_file_refusal(image, format->format);
            else if (format)
                one.drive.format = format->format;
        }
        plan.push_back(std::move(one));
    }
    return plan;
}

}  // namespace endpointfix::offline::image
