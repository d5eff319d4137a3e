// Capture pass: endpoints whose device description begins with "WaveOut Mix" are made active.
#pragma once

#include "endpoints/walk.h"

namespace endpointfix {

class CaptureRule final : public EndpointRule {
public:
    // True when the property key's description reads back in 256 bytes or fewer and its first
    // 11 bytes are "WaveOut Mix" (case-sensitive; longer descriptions match too).
    bool test(RegistryStore& store, KeyHandle property_key) const override;

    // Writes "DeviceState" = 1 (active) as a DWORD on the endpoint key, unconditionally.
    void act(RegistryStore& store, KeyHandle endpoint_key, KeyHandle property_key) const override;
};

}  // namespace endpointfix
