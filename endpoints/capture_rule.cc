#include "endpoints/capture_rule.h"

#include <cstdint>
#include <cstring>

#include "endpoints/property_names.h"

namespace endpointfix {
namespace {

constexpr char kMatch[] = "WaveOut Mix";
constexpr std::uint32_t kMatchLength = sizeof(kMatch) - 1;
static_assert(kMatchLength == 11);
constexpr std::uint8_t kActive[4] = {0x01, 0x00, 0x00, 0x00};  // DEVICE_STATE_ACTIVE, little-endian

}  // namespace

bool CaptureRule::test(RegistryStore& store, KeyHandle property_key) const {
    std::uint8_t text[256];
    std::uint32_t size = sizeof(text);
    if (store.read_value(property_key, kDescription, text, size) != kSuccess) return false;
    // A zero byte inside the first 11 differs from the match text, so this is a prefix match.
    return size >= kMatchLength && std::memcmp(text, kMatch, kMatchLength) == 0;
}

void CaptureRule::act(RegistryStore& store, KeyHandle endpoint_key, KeyHandle) const {
    store.write_value(endpoint_key, kDeviceState, ValueType::kDword, kActive, sizeof(kActive));
}

}  // namespace endpointfix
