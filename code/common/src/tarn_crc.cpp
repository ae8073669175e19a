#include "tarn_crc.h"

#include <array>

#include "tarn_byte_order.h"

namespace {

// Lookup table of a CRC that shifts towards the least significant bit.
template <typename Register> constexpr std::array<Register, 256> ReflectedTable(Register polynomial) {
    std::array<Register, 256> table{};
    for (unsigned index = 0; index < table.size(); ++index) {
        Register value = static_cast<Register>(index);
        for (int bit = 0; bit < 8; ++bit) {
            value = (value & 1u) != 0 ? static_cast<Register>((value >> 1) ^ polynomial)
                                      : static_cast<Register>(value >> 1);
        }
        table[index] = value;
    }
    return table;
}

// Lookup table of a CRC that shifts towards the most significant bit.
template <typename Register> constexpr std::array<Register, 256> ForwardTable(Register polynomial) {
    constexpr unsigned kWidth = sizeof(Register) * 8;
    constexpr Register kTopBit = static_cast<Register>(Register{1} << (kWidth - 1));
    std::array<Register, 256> table{};
    for (unsigned index = 0; index < table.size(); ++index) {
        Register value = static_cast<Register>(static_cast<Register>(index) << (kWidth - 8));
        for (int bit = 0; bit < 8; ++bit) {
            value = (value & kTopBit) != 0 ? static_cast<Register>((value << 1) ^ polynomial)
                                           : static_cast<Register>(value << 1);
        }
        table[index] = value;
    }
    return table;
}

constexpr auto kCrc8Table = ForwardTable<uint8_t>(0x07);
constexpr auto kModbusTable = ReflectedTable<uint16_t>(0xA001);
constexpr auto kCcittTable = ForwardTable<uint16_t>(0x1021);
constexpr auto kCrc32ReflectedTable = ReflectedTable<uint32_t>(0xEDB88320u);
constexpr auto kCrc32ForwardTable = ForwardTable<uint32_t>(0x04C11DB7u);

// The reflected CRC-32 eight bytes at a time (images of tens of MiB go through it): slice k holds the register
// after a byte followed by k zero bytes.
constexpr std::array<std::array<uint32_t, 256>, 8> Crc32Slices() {
    std::array<std::array<uint32_t, 256>, 8> slices{};
    slices[0] = kCrc32ReflectedTable;
    for (size_t slice = 1; slice < slices.size(); ++slice) {
        for (size_t index = 0; index < 256; ++index) {
            const uint32_t previous = slices[slice - 1][index];
            slices[slice][index] = (previous >> 8) ^ kCrc32ReflectedTable[previous & 0xFFu];
        }
    }
    return slices;
}

constexpr auto kCrc32Slices = Crc32Slices();

template <typename Register>
Register UpdateReflected(const std::array<Register, 256> &table, const uint8_t *data, size_t length, Register crc) {
    for (size_t index = 0; index < length; ++index) {
        crc = static_cast<Register>(table[(crc ^ data[index]) & 0xFFu] ^ (crc >> 8));
    }
    return crc;
}

template <typename Register>
Register UpdateForward(const std::array<Register, 256> &table, const uint8_t *data, size_t length, Register crc) {
    constexpr unsigned kShift = sizeof(Register) * 8 - 8;
    for (size_t index = 0; index < length; ++index) {
        // For an 8-bit register the shift left drops every bit, which is what the table lookup expects.
        const Register carried = sizeof(Register) == 1 ? Register{0} : static_cast<Register>(crc << 8);
        crc = static_cast<Register>(table[((crc >> kShift) ^ data[index]) & 0xFFu] ^ carried);
    }
    return crc;
}

} // namespace

const std::array<uint16_t, 256> kCrcX25Table = ReflectedTable<uint16_t>(0x8408);

uint8_t Crc_Sum8(const uint8_t *data, size_t length, uint8_t sum) {
    for (size_t index = 0; index < length; ++index) {
        sum = static_cast<uint8_t>(sum + data[index]);
    }
    return sum;
}

uint8_t Crc_Crc8(const uint8_t *data, size_t length, uint8_t crc) {
    return UpdateForward(kCrc8Table, data, length, crc);
}

uint16_t Crc_X25(const uint8_t *data, size_t length, uint16_t crc) {
    return UpdateReflected(kCrcX25Table, data, length, crc);
}

uint16_t Crc_Modbus(const uint8_t *data, size_t length, uint16_t crc) {
    return UpdateReflected(kModbusTable, data, length, crc);
}

uint16_t Crc_CcittFalse(const uint8_t *data, size_t length, uint16_t crc) {
    return UpdateForward(kCcittTable, data, length, crc);
}

uint16_t Crc_Xmodem(const uint8_t *data, size_t length, uint16_t crc) {
    return UpdateForward(kCcittTable, data, length, crc);
}

uint32_t Crc_Crc32Raw(const uint8_t *data, size_t length, uint32_t crc) {
    const auto &s = kCrc32Slices;
    for (; length >= 8; data += 8, length -= 8) {
        const uint32_t low = crc ^ tarn::LoadLe32(data);
        const uint32_t high = tarn::LoadLe32(data + 4);
        crc = s[7][low & 0xFFu] ^ s[6][(low >> 8) & 0xFFu] ^ s[5][(low >> 16) & 0xFFu] ^ s[4][low >> 24] ^
              s[3][high & 0xFFu] ^ s[2][(high >> 8) & 0xFFu] ^ s[1][(high >> 16) & 0xFFu] ^ s[0][high >> 24];
    }
    return UpdateReflected(kCrc32ReflectedTable, data, length, crc);
}

uint32_t Crc_Crc32Ieee(const uint8_t *data, size_t length) {
    return ~Crc_Crc32Raw(data, length, 0xFFFFFFFFu);
}

uint32_t Crc_Crc32Words(const uint8_t *data, size_t length, uint32_t crc) {
    if (data == nullptr) {
        return crc;
    }
    for (size_t offset = 0; offset < length; offset += 4) {
        uint8_t word[4] = {0xFF, 0xFF, 0xFF, 0xFF};
        for (size_t index = 0; index < 4 && offset + index < length; ++index) {
            // A little-endian word taken most significant bit first is its four bytes in reverse order.
            word[3 - index] = data[offset + index];
        }
        crc = UpdateForward(kCrc32ForwardTable, word, sizeof(word), crc);
    }
    return crc;
}
