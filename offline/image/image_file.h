// What can be told of a disk image file before libguestfs' appliance is started for it.
#pragma once

#include <string>

namespace endpointfix::offline::image {

// Why `image` cannot be serviced: missing or unreadable, not a file or block device, shorter
// than a sector, or in use: locked by another process, as QEMU locks the images of a running
// virtual machine (libguestfs itself would read such an image, shared, while it is written).
// Empty where it may be an image.
std::string unusable_image(const std::string& image);

// Why libguestfs' appliance did not start, from what libguestfs and QEMU said (`messages`) and
// libguestfs' error: QEMU could not lock the image, which another process holds (a running
// virtual machine), or the appliance itself failed, with what to try.
std::string start_failure(const std::string& messages, const std::string& error);

}  // namespace endpointfix::offline::image
