// One image of a run, its disk attached in the appliance: its hive found, copied out into a
// private folder, and serviced there as a hive file is, named as it stands in the image.
#pragma once

#include <string>

#include "offline/image/batch.h"
#include "offline/image/guest.h"
#include "offline/image/image_document.h"
#include "offline/image/watchdog.h"
#include "offline/options.h"

namespace endpointfix::offline::image {

constexpr char kProgram[] = "endpointfix-offline";

// One line on stderr: "endpointfix-offline: WHAT: LINE", escaped.
void tell(const std::string& what, const std::string& line);

// Services `planned` on `disk` (the installation on `root`, "" for the only one) in the mode `options` asks for,
// and returns its status; a refusal is told in one line. Sets `where` as far as the hive is
// found. With `headed`, a text report is preceded by the line "== IMAGE (PARTITION): PATH". The
// write-back is bounded by `watchdog`.
int service_image(Appliance& guest, const std::string& disk, const Planned& planned,
                  const Options& options, bool headed, Watchdog& watchdog, HiveWhere& where);

// Why the image in hand is not serviced where the run was stopped (a signal, or `watchdog`'s
// bound): its words for it; "" where it was not.
std::string stopped(const Watchdog& watchdog);

}  // namespace endpointfix::offline::image
