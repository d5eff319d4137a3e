// What can be told of a disk image file before libguestfs' appliance is started for it.
#pragma once

#include <string>

namespace endpointfix::offline::image {

// Why `image` cannot be serviced: missing or unreadable, not a file or block device, shorter
// than a sector, or in use: locked by another process, as QEMU locks the images of a running
// virtual machine (libguestfs itself would read such an image, shared, while it is written).
// Empty where it may be an image.
std::string unusable_image(const std::string& image);

}  // namespace endpointfix::offline::image
