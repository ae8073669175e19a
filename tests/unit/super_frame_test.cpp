// The 0x55AA frame and its MAVLink carriage, by the bytes the devices expect.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "console_capture.h"
#include "tarn_byte_order.h"
#include "tarn_upgrade_nimbo_super_frame.h"

namespace {

SuperLink BatteryLink() {
    return SuperLink{3, SuperFrame_CrcCcitt, 5000, 10, nullptr, 0, {}, {}};
}

TEST(SuperFrame, AFrameWithoutDataHasItsCrcOverTheHeaderAtOffset246) {
    uint8_t carrier[kSuperCarrierLength] = {};
    ASSERT_EQ(0, SuperFrame_Encode(carrier, 0x0F00000D, 5, 3, 0x0D, nullptr, 0, SuperFrame_CrcCcitt));
    const std::vector<uint8_t> head(carrier, carrier + 12);
    EXPECT_EQ((std::vector<uint8_t>{0x0D, 0x00, 0x00, 0x0F, 0x03, 0x08, 0x55, 0xAA, 0x05, 0x03, 0x0D, 0x00}), head);
    // CRC-16/CCITT-FALSE of 55 AA 05 03 0D 00, little-endian.
    EXPECT_EQ(0x06, carrier[6 + 246]);
    EXPECT_EQ(0xC2, carrier[6 + 247]);
    for (size_t index = 12; index < 6 + 246; ++index) {
        ASSERT_EQ(0, carrier[index]) << index;
    }
}

TEST(SuperFrame, TheWholeFrameTravelsInDeviceDataAndSequencesWrap) {
    SuperLink link = BatteryLink();
    link.sequence = 0xFF;
    uint8_t wire[kMavlinkMaxFrameLength];
    ASSERT_EQ(262, SuperFrame_Pack(&link, 0x0F00000D, 0x0D, nullptr, 0, wire));
    EXPECT_EQ(254, wire[1]);
    EXPECT_EQ(218, wire[5]);
    EXPECT_EQ(0xFF, wire[6 + 6 + 2]);
    // CRC-16/CCITT-FALSE of 55 AA FF 03 0D 00: past the data, and still there after the packing.
    EXPECT_EQ(0xE0, wire[6 + 6 + 246]);
    EXPECT_EQ(0x35, wire[6 + 6 + 247]);
    ASSERT_EQ(262, SuperFrame_Pack(&link, 0x0F00000D, 0x0D, nullptr, 0, wire));
    EXPECT_EQ(0x00, wire[6 + 6 + 2]);
}

TEST(SuperFrame, DataLengthAbove240IsRefused) {
    uint8_t carrier[kSuperCarrierLength] = {};
    const std::vector<uint8_t> data(241, 0x11);
    EXPECT_EQ(0, SuperFrame_Encode(carrier, 1, 0, 3, 9, data.data(), 240, SuperFrame_CrcCcitt));
    StdoutCapture capture;
    EXPECT_EQ(-1, SuperFrame_Encode(carrier, 1, 0, 3, 9, data.data(), 241, SuperFrame_CrcCcitt));
    EXPECT_EQ(-1, SuperFrame_Encode(carrier, 1, 0, 3, 9, nullptr, 1, SuperFrame_CrcCcitt));
    EXPECT_EQ(ErrorLine("data length 0xf1 error\n") + ErrorLine("NULL ERROR.\n"), WithoutLocations(capture.Finish()));
}

// A message 200 from the device whose carrier holds a frame with these data bytes.
MavlinkMessage Reply(uint8_t deviceId, std::vector<uint8_t> data, bool corrupt = false) {
    MavlinkMessage message{};
    message.messageId = kMavlinkMsgIdDeviceCommand;
    uint8_t carrier[kSuperCarrierLength] = {};
    SuperFrame_Encode(carrier, 0x0F000008, 9, deviceId, 0x08, data.data(), static_cast<uint8_t>(data.size()),
                      SuperFrame_CrcCcitt);
    carrier[6 + 246] ^= corrupt ? 0xFF : 0x00;
    memcpy(message.payload, carrier, kMavlinkDeviceDataLength);
    return message;
}

TEST(SuperFrame, RepliesAreJudgedByDeviceSyncLengthCrcAndNack) {
    SuperLink link = BatteryLink();
    StdoutCapture capture;
    EXPECT_EQ(SuperReply::Nack, SuperFrame_Judge(&link, Reply(3, {kSuperNack})));
    EXPECT_EQ(SuperReply::None, SuperFrame_Judge(&link, Reply(1, {0x00})));
    EXPECT_EQ(SuperReply::None, SuperFrame_Judge(&link, Reply(3, {0x00}, true)));
    MavlinkMessage unsynced = Reply(3, {0x00});
    unsynced.payload[7] = 0xAB;
    EXPECT_EQ(SuperReply::None, SuperFrame_Judge(&link, unsynced));
    MavlinkMessage other = Reply(3, {0x00});
    other.messageId = kMavlinkMsgIdDeviceData;
    EXPECT_EQ(SuperReply::None, SuperFrame_Judge(&link, other));
    EXPECT_EQ(SuperReply::Accepted, SuperFrame_Judge(&link, Reply(3, {0x00, 0x42})));
    EXPECT_EQ(2, SuperFrame_ReplyLength(link));
    EXPECT_EQ(0x42, SuperFrame_ReplyData(link)[1]);
    EXPECT_EQ(WarnLine("received NACK.\n") + ErrorLine("Error device ID 0x01\n") + WarnLine("received error frame.\n") +
                  ErrorLine("Error crc 0xace4. expect 0xac1b\n") + WarnLine("received error packet.\n") +
                  ErrorLine("Error sync word expect 0x55AA , actual 0x55ab\n") + WarnLine("received error packet.\n"),
              WithoutLocations(capture.Finish()));
}

} // namespace
