// libguestfs' binding (guest.cc, the only file that includes <guestfs.h>): probing an image file,
// and starting the appliance (offline/image/appliance.h) whose mounted filesystem is a Volume.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "offline/image/appliance.h"

namespace endpointfix::offline::image {

// What qemu-img tells of an image file without opening any backing file it names: its format
// ("raw", "qcow2", "vhdx", "vmdk", "vpc", ...) and whether it names one.
struct ImageFormat {
    std::string format;
    bool has_backing_file = false;
};

// Probes `image` (no appliance is started for it) into `format`; refused where it cannot be told.
Result probe_image(const std::string& image, ImageFormat& format);

// An image to attach, in the format probed, named so that nothing probes it again.
struct Drive {
    std::string image;
    std::string format;
    bool read_only = false;  // attached read-only even where the appliance's drives are writable
};

// Starts one libguestfs appliance with `drives` attached in their order (read-only unless
// `writable` and the drive is not read_only) into `appliance`. Refused otherwise, in one line: an
// image is locked by another process (a running virtual machine), or the appliance did not start
// (with what to try), or libguestfs' reason. libguestfs' own messages reach stderr only where
// LIBGUESTFS_DEBUG asks.
Result open_guest(const std::vector<Drive>& drives, bool writable,
                  std::unique_ptr<Appliance>& appliance);

}  // namespace endpointfix::offline::image
