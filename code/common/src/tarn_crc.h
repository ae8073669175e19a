// The checksums of every protocol and file format the tools speak, each in one place.
// All functions take a running value, so a checksum can be chained over pieces.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

// 8-bit sum modulo 256, no seed and no complement.
uint8_t Crc_Sum8(const uint8_t *data, size_t length, uint8_t sum = 0);

// CRC-8, polynomial 0x07, most significant bit first, no final inversion.
uint8_t Crc_Crc8(const uint8_t *data, size_t length, uint8_t crc = 0x00);

// X.25 (CRC-16/MCRF4XX): reflected polynomial 0x8408, start 0xFFFF, no final inversion.
// The step is inline over the shared table: byte-wise parsers take it once per received byte.
extern const std::array<uint16_t, 256> kCrcX25Table;
inline uint16_t Crc_X25Step(uint8_t byte, uint16_t crc) {
    return static_cast<uint16_t>(kCrcX25Table[(crc ^ byte) & 0xFFu] ^ (crc >> 8));
}
uint16_t Crc_X25(const uint8_t *data, size_t length, uint16_t crc = 0xFFFF);

// CRC-16/MODBUS: reflected polynomial 0xA001, start 0xFFFF, no final inversion.
uint16_t Crc_Modbus(const uint8_t *data, size_t length, uint16_t crc = 0xFFFF);

// Polynomial 0x1021, most significant bit first, no final inversion: CRC-16/CCITT-FALSE starts at 0xFFFF,
// CRC-16/XMODEM at 0.
uint16_t Crc_CcittFalse(const uint8_t *data, size_t length, uint16_t crc = 0xFFFF);
uint16_t Crc_Xmodem(const uint8_t *data, size_t length, uint16_t crc = 0x0000);

// Reflected polynomial 0xEDB88320 applied to the register as given: no inversion before or after.
uint32_t Crc_Crc32Raw(const uint8_t *data, size_t length, uint32_t crc = 0);

// The IEEE 802.3 CRC-32: the raw register started at all ones and complemented at the end.
uint32_t Crc_Crc32Ieee(const uint8_t *data, size_t length);

// Polynomial 0x04C11DB7, most significant bit first, over little-endian 32-bit words; a last partial word is
// completed with 0xFF bytes. Empty or missing data leaves the register unchanged.
uint32_t Crc_Crc32Words(const uint8_t *data, size_t length, uint32_t crc = 0);
