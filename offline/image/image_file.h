// What can be told of a disk image file before libguestfs' appliance is started for it.
#pragma once

#include <string>

#include "registry/result.h"

namespace endpointfix::offline::image {

// Why `image` cannot be serviced: missing or unreadable, not a file or block device, shorter
// than a sector, or in use: locked by another process, as QEMU locks the images of a running
// virtual machine (libguestfs itself would read such an image, shared, while it is written).
// Done where it may be an image.
Result unusable_image(const std::string& image);

// What an image that names a backing file is told, in a phrase that follows its name: the backing
// file (read from a qcow2 header at the start of `image`; other formats' names are not read) and
// how to make one image of the two. Nothing is opened through it.
std::string backing_file_refusal(const std::string& image, const std::string& format);

// Why libguestfs' appliance did not start, from what libguestfs and QEMU said (`messages`) and
// libguestfs' error: QEMU could not lock the image, which another process holds (a running
// virtual machine), or the appliance itself failed, with what to try.
std::string start_failure(const std::string& messages, const std::string& error);

}  // namespace endpointfix::offline::image
