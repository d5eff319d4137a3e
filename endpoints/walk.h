// The two-level walk over an endpoint root that both passes share: every endpoint key, and
// under it every property key until the pass's rule finds the one it is looking for.
#pragma once

#include "registry/registry_store.h"

namespace endpointfix {

// What a pass looks for in a property key and what it writes once found. A rule reads and
// writes through keys it is shown; it never opens or closes one.
class EndpointRule {
public:
    EndpointRule() = default;
    EndpointRule(const EndpointRule&) = delete;
    EndpointRule& operator=(const EndpointRule&) = delete;
    virtual ~EndpointRule() = default;

    // Whether `property_key` is the one this rule acts on. May read values of that key.
    virtual bool test(RegistryStore& store, KeyHandle property_key) const = 0;

    // Writes this rule's values through `endpoint_key` or `property_key`.
    virtual void act(RegistryStore& store, KeyHandle endpoint_key,
                     KeyHandle property_key) const = 0;
};

// Visits each endpoint key of `root` (open, and left open) and lets `rule` act on the first
// of its property keys, in enumeration order, that `rule` tests true. A failed enumeration
// ends the loop of its level; a key that cannot be opened is skipped. Every key opened here
// is closed before the next index of its level.
void walk(RegistryStore& store, KeyHandle root, const EndpointRule& rule);

}  // namespace endpointfix
