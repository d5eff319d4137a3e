// What an image run is doing, told on stderr while the user waits: the appliance's start (tens of
// seconds without KVM), each image as it is read and written back. Told where stderr is a
// terminal, or where --progress asks; never into a --json batch's held output (held_output.h).
#pragma once

#include <string>

namespace endpointfix::offline::image {

// Decides, once, before anything is held: `asked` (--progress), or stderr a terminal.
void start_progress(bool asked);
// One line, "endpointfix-offline: WHAT", where progress is told.
void progress(const std::string& what);

}  // namespace endpointfix::offline::image
