// Several images a run: which go into one appliance, and why the others are refused before it
// starts.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "offline/image/guest.h"

namespace endpointfix::offline::image {

// The images one appliance attaches at most; past it, appliances start in turn. Each drive costs
// the appliance little, and a bound keeps one start's memory and time within reach.
constexpr std::size_t kDrivesAStart = 16;

// One image of the run, as told before any appliance starts.
struct Planned {
    std::string image;
    Drive drive;          // its format probed, where it is to be attached
    std::string refused;  // why it is not, in a phrase that follows its name; empty where it is
    std::string same_as;  // the image given before that is the same file: this one is not attached
    // Why the file cannot be opened for writing, where `writable` asked and it cannot: the drive
    // is then attached read-only, and only a write-back is refused.
    std::string unwritable;
    std::string root;  // the --root given for it: the device of its installation, "" for any
};

// The images in the order given, each probed: unusable files and images that name a backing
// file are refused (nothing is opened through one), and an image given twice (the same file)
// is noted; with `writable`, each is tried for writing.
std::vector<Planned> plan_images(const std::vector<std::string>& images, bool writable);

}  // namespace endpointfix::offline::image
