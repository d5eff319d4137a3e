// Finding the SOFTWARE hive of the Windows installation in a disk image.
#pragma once

#include <string>
#include <vector>

#include "offline/image/appliance.h"

namespace endpointfix::offline::image {

struct Installation {
    std::string device;  // the filesystem that holds it (its system volume)
    std::string hive;    // the SOFTWARE hive's path there, spelt as it is there
};

// `device` (on `disk`, "/dev/sdc2") named as if its image were the only one attached
// ("/dev/sda2"), as messages and --root name it: a batch names partitions as a run alone does.
std::string as_alone(const std::string& device, const std::string& disk);

// Where `disk` is shorter than its partition table says (a copy cut short), says so; else, the
// installations on `disk` (one image's, "/dev/sdb"): each filesystem of the disk with a
// Windows/System32/config/SOFTWARE (in any letter case); where there is none, those that
// libguestfs' inspection recognises as Windows (its system folder elsewhere) and whose SOFTWARE
// hive is there. `root`, where not empty, picks the one on that device (named as_alone). A
// filesystem that does not mount, or a SOFTWARE that is not a regular file, is told where no hive
// is found. On success, sets `found` and leaves its filesystem mounted read-only; otherwise
// refuses, in a phrase that follows the image's name: no filesystem, no installation, none on
// `root`, or more than one.
Result find_installation(Appliance& guest, const std::string& disk, const std::string& root,
                         Installation& found);

// Whether the mounted volume holds a hibernation image: its hiberfil.sys begins with "hibr" in
// any letter case, left for Windows to resume (hibernation, or Fast Startup's shut-down).
bool hibernated(Appliance& guest);

// The names of the transaction logs beside `hive` in the mounted volume: NAME.LOG, NAME.LOG1
// and NAME.LOG2, in any letter case.
std::vector<std::string> hive_logs(Appliance& guest, const std::string& hive);

}  // namespace endpointfix::offline::image
