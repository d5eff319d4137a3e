#include "endpoints/render_rule.h"

#include <cstdint>

#include "endpoints/property_names.h"
#include "endpoints/stored_values.h"

namespace endpointfix {
namespace {

constexpr std::uint32_t kHeadphones = 3;

bool readable(RegistryStore& store, KeyHandle key, const char* name) {
    std::uint8_t data[256];
    std::uint32_t size = sizeof(data);
    return store.read_value(key, name, data, size) == kSuccess;
}

template <std::uint32_t N>
void store_unless_readable(RegistryStore& store, KeyHandle key, const char* name,
                           const std::uint8_t (&bytes)[N]) {
    if (!readable(store, key, name)) store.write_value(key, name, ValueType::kBinary, bytes, N);
}

}  // namespace

bool RenderRule::test(RegistryStore& store, KeyHandle property_key) const {
    // A shorter value leaves the high-order bytes zero.
    std::uint8_t bytes[4] = {};
    std::uint32_t size = sizeof(bytes);
    if (store.read_value(property_key, kFormFactor, bytes, size) != kSuccess) return false;
    const std::uint32_t form =
        bytes[0] | bytes[1] << 8 | bytes[2] << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
    return form == kHeadphones;
}

void RenderRule::act(RegistryStore& store, KeyHandle, KeyHandle property_key) const {
    store_unless_readable(store, property_key, kFormat, kStoredFormat);
    store_unless_readable(store, property_key, kEightByte, kStoredEightByte);
}

}  // namespace endpointfix
