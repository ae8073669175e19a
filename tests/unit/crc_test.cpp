// Every checksum against the check values its protocol or file format documents.
#include <gtest/gtest.h>

#include <cstring>

#include "tarn_crc.h"

namespace {

const uint8_t *Bytes(const char *text) {
    return reinterpret_cast<const uint8_t *>(text);
}

constexpr const char kDigits[] = "123456789";
constexpr size_t kDigitCount = 9;

TEST(Crc, Sum8OfTheLoopTestFrame) {
    const uint8_t frame[] = {0xAA, 0x05, 0x01, 0x00, 0x00};
    EXPECT_EQ(0xB0, Crc_Sum8(frame, sizeof(frame)));
    EXPECT_EQ(0xDD, Crc_Sum8(Bytes(kDigits), kDigitCount));
}

TEST(Crc, Crc8Poly07) {
    EXPECT_EQ(0xF4, Crc_Crc8(Bytes(kDigits), kDigitCount));
    const uint8_t jumpToBootloader[] = {0xAA, 0xE0, 0x00};
    EXPECT_EQ(0x8C, Crc_Crc8(jumpToBootloader, sizeof(jumpToBootloader)));
}

TEST(Crc, X25FromAllOnes) {
    EXPECT_EQ(0x6F91, Crc_X25(Bytes(kDigits), kDigitCount));
    uint16_t stepped = 0xFFFF;
    for (size_t index = 0; index < kDigitCount; ++index) {
        stepped = Crc_X25Step(static_cast<uint8_t>(kDigits[index]), stepped);
    }
    EXPECT_EQ(0x6F91, stepped);
}

TEST(Crc, SixteenBitVariants) {
    EXPECT_EQ(0x4B37, Crc_Modbus(Bytes(kDigits), kDigitCount));
    EXPECT_EQ(0x29B1, Crc_CcittFalse(Bytes(kDigits), kDigitCount));
    EXPECT_EQ(0x31C3, Crc_Xmodem(Bytes(kDigits), kDigitCount));
    const uint8_t handshakeHeader[4] = {};
    EXPECT_EQ(0x0000, Crc_Xmodem(handshakeHeader, sizeof(handshakeHeader)));
}

TEST(Crc, Crc32RawHasNoInversion) {
    EXPECT_EQ(0x2DFD2D88u, Crc_Crc32Raw(Bytes(kDigits), kDigitCount, 0));
    EXPECT_EQ(0xCA6598D0u, Crc_Crc32Raw(Bytes("abc"), 3, 0));
    EXPECT_EQ(0u, Crc_Crc32Raw(nullptr, 0, 0));
}

TEST(Crc, Crc32Ieee) {
    EXPECT_EQ(0xCBF43926u, Crc_Crc32Ieee(Bytes(kDigits), kDigitCount));
    EXPECT_EQ(0x352441C2u, Crc_Crc32Ieee(Bytes("abc"), 3));
    // Long and unaligned runs, eight bytes at a time and the rest one by one (values from zlib's crc32).
    uint8_t pattern[1100];
    for (size_t index = 0; index < sizeof pattern; ++index) {
        pattern[index] = static_cast<uint8_t>(index * 7 + 3);
    }
    EXPECT_EQ(0x42D75771u, Crc_Crc32Ieee(pattern + 1, 1000));
    EXPECT_EQ(0x4FAA24B6u, Crc_Crc32Ieee(pattern + 3, 13));
    EXPECT_EQ(0xE2E35978u, Crc_Crc32Ieee(pattern, 8));
}

TEST(Crc, Crc32WordsPadsTheLastWordWithOnes) {
    EXPECT_EQ(0x97F8EFA0u, Crc_Crc32Words(Bytes(kDigits), 8, 0));
    EXPECT_EQ(0xD09E59B9u, Crc_Crc32Words(Bytes(kDigits), 9, 0));
    const uint8_t explicitlyPadded[12] = {'1', '2', '3', '4', '5', '6', '7', '8', '9', 0xFF, 0xFF, 0xFF};
    EXPECT_EQ(0xD09E59B9u, Crc_Crc32Words(explicitlyPadded, sizeof(explicitlyPadded), 0));
    EXPECT_EQ(0x12345678u, Crc_Crc32Words(nullptr, 16, 0x12345678u));
    EXPECT_EQ(0x12345678u, Crc_Crc32Words(Bytes(kDigits), 0, 0x12345678u));
}

TEST(Crc, ChainingOverPiecesEqualsOnePass) {
    const uint8_t *digits = Bytes(kDigits);
    EXPECT_EQ(0x2DFD2D88u, Crc_Crc32Raw(digits + 4, 5, Crc_Crc32Raw(digits, 4, 0)));
    EXPECT_EQ(0x4B37, Crc_Modbus(digits + 2, 7, Crc_Modbus(digits, 2)));
    EXPECT_EQ(0x29B1, Crc_CcittFalse(digits + 5, 4, Crc_CcittFalse(digits, 5)));
    EXPECT_EQ(0xF4, Crc_Crc8(digits + 1, 8, Crc_Crc8(digits, 1)));
    EXPECT_EQ(0xD09E59B9u, Crc_Crc32Words(digits + 4, 5, Crc_Crc32Words(digits, 4, 0)));
}

} // namespace
