// The run sequence: the fixed pass list over the platform's audio endpoint store.
#pragma once

#include <cstddef>

#include "registry/registry_store.h"

namespace endpointfix {

inline constexpr char kCaptureRoot[] =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\MMDevices\\Audio\\Capture";
inline constexpr char kRenderRoot[] =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\MMDevices\\Audio\\Render";

// Passes by their place in the pass list.
enum class PassId : std::size_t { kCapture = 0, kRender = 1 };

// Walks the Capture root with the capture rule, then the Render root with the render rule,
// each opened below HKEY_LOCAL_MACHINE and closed after its pass; a root that cannot be
// opened is skipped. Returns the exit status, always 0.
int run(RegistryStore& store);

// Told, around each act of a rule, which pass's rule acts on which endpoint: what a rule reads
// and writes between the two calls is its act's.
class RuleWatch {
public:
    virtual void acting(PassId pass, KeyHandle endpoint_key, KeyHandle property_key) = 0;
    virtual void acted() = 0;

protected:
    ~RuleWatch() = default;  // not owned through this interface
};

// The same run, its rules watched by `watch`.
int run(RegistryStore& store, RuleWatch& watch);

}  // namespace endpointfix
