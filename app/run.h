// The run sequence: the fixed pass list over the platform's audio endpoint store.
#pragma once

#include "registry/registry_store.h"

namespace endpointfix {

inline constexpr char kCaptureRoot[] =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\MMDevices\\Audio\\Capture";
inline constexpr char kRenderRoot[] =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\MMDevices\\Audio\\Render";

// Walks the Capture root with the capture rule, then the Render root with the render rule,
// each opened below HKEY_LOCAL_MACHINE and closed after its pass; a root that cannot be
// opened is skipped. Returns the exit status, always 0.
int run(RegistryStore& store);

}  // namespace endpointfix
