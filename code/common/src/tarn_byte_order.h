// Multi-byte fields on the wire and in files, read and written byte by byte so that neither the host's byte
// order nor the field's alignment matters. Every module and simulator uses these instead of shifting by hand.
#pragma once

#include <cstdint>

namespace tarn {

constexpr uint16_t LoadLe16(const uint8_t *bytes) {
    return static_cast<uint16_t>(bytes[0] | bytes[1] << 8);
}

constexpr uint16_t LoadBe16(const uint8_t *bytes) {
    return static_cast<uint16_t>(bytes[0] << 8 | bytes[1]);
}

constexpr uint32_t LoadLe32(const uint8_t *bytes) {
    return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
           static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

constexpr uint32_t LoadBe32(const uint8_t *bytes) {
    return static_cast<uint32_t>(bytes[0]) << 24 | static_cast<uint32_t>(bytes[1]) << 16 |
           static_cast<uint32_t>(bytes[2]) << 8 | static_cast<uint32_t>(bytes[3]);
}

constexpr void StoreLe16(uint8_t *bytes, uint16_t value) {
    bytes[0] = static_cast<uint8_t>(value);
    bytes[1] = static_cast<uint8_t>(value >> 8);
}

constexpr void StoreBe16(uint8_t *bytes, uint16_t value) {
    bytes[0] = static_cast<uint8_t>(value >> 8);
    bytes[1] = static_cast<uint8_t>(value);
}

constexpr void StoreLe32(uint8_t *bytes, uint32_t value) {
    for (int index = 0; index < 4; ++index) {
        bytes[index] = static_cast<uint8_t>(value >> (8 * index));
    }
}

constexpr void StoreBe32(uint8_t *bytes, uint32_t value) {
    for (int index = 0; index < 4; ++index) {
        bytes[index] = static_cast<uint8_t>(value >> (8 * (3 - index)));
    }
}

} // namespace tarn
