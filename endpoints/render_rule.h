// Render pass: headphone endpoints (form factor 3) get a stored stream format and a
// companion eight-byte value wherever the stored one cannot be read back.
#pragma once

#include "endpoints/walk.h"

namespace endpointfix {

class RenderRule final : public EndpointRule {
public:
    // True when the property key's form factor reads back in 4 bytes or fewer and is 3.
    bool test(RegistryStore& store, KeyHandle property_key) const override;

    // On the property key: writes the format value unless it reads back in 256 bytes, then,
    // independently, the eight-byte value unless it reads back in 256 bytes.
    void act(RegistryStore& store, KeyHandle endpoint_key, KeyHandle property_key) const override;
};

}  // namespace endpointfix
