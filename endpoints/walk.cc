#include "endpoints/walk.h"

#include <cstdint>

namespace endpointfix {
namespace {

// Returns once the rule has acted or the endpoint's subkeys are exhausted.
void visit_endpoint(RegistryStore& store, KeyHandle endpoint, const EndpointRule& rule) {
    char name[kKeyNameBuffer];
    for (std::uint32_t index = 0; store.enumerate(endpoint, index, name) == kSuccess; ++index) {
        KeyHandle property;
        if (store.open(endpoint, name, property) != kSuccess) continue;
        const bool match = rule.test(store, property);
        if (match) rule.act(store, endpoint, property);
        store.close(property);
        if (match) return;
    }
}

}  // namespace

void walk(RegistryStore& store, KeyHandle root, const EndpointRule& rule) {
    char name[kKeyNameBuffer];
    for (std::uint32_t index = 0; store.enumerate(root, index, name) == kSuccess; ++index) {
        KeyHandle endpoint;
        if (store.open(root, name, endpoint) != kSuccess) continue;
        visit_endpoint(store, endpoint, rule);
        store.close(endpoint);
    }
}

}  // namespace endpointfix
