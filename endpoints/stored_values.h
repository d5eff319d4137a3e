// The two property values the render pass stores, in the registry's serialized property
// layout: 16-bit value type, 16-bit second word, 32-bit payload length, payload; all numbers
// little-endian. They are written exactly as they stand here.
#pragma once

#include <cstdint>

namespace endpointfix {

// VT_BLOB holding a WAVEFORMATEXTENSIBLE: 48 kHz, 2 channels (front left and right), 32-bit
// IEEE float (sub-format KSDATAFORMAT_SUBTYPE_IEEE_FLOAT).
inline constexpr std::uint8_t kStoredFormat[] = {
    0x41, 0x00, 0x86, 0x74, 0x28, 0x00, 0x00, 0x00,  // VT_BLOB, second word, 40-byte payload
    0xFE, 0xFF, 0x02, 0x00, 0x80, 0xBB, 0x00, 0x00,  // WAVE_FORMAT_EXTENSIBLE, 2 ch, 48000 Hz
    0x00, 0xDC, 0x05, 0x00, 0x08, 0x00, 0x20, 0x00,  // 384000 bytes/s, align 8, 32 bits
    0x16, 0x00, 0x20, 0x00, 0x03, 0x00, 0x00, 0x00,  // 22 extra bytes, 32 valid bits, mask 3
    0x03, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,  // {00000003-0000-0010-
    0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71,  //  8000-00aa00389b71}
};
static_assert(sizeof(kStoredFormat) == 48);

// VT_BLOB holding the 64-bit integer 100000.
inline constexpr std::uint8_t kStoredEightByte[] = {
    0x41, 0x00, 0x63, 0x00, 0x08, 0x00, 0x00, 0x00,  // VT_BLOB, second word, 8-byte payload
    0xA0, 0x86, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00,  // 100000
};
static_assert(sizeof(kStoredEightByte) == 16);

}  // namespace endpointfix
