// The MAVLink link layer against the frames and values the protocol documents, and the parser's recovery.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "tarn_mavlink.h"
#include "tarn_upgrade_fmu.h"

namespace {

using Bytes = std::vector<uint8_t>;

// The restart request of the flight controller: COMMAND_LONG, sequence 5, system 255, component 0.
const Bytes kRestartFrame = {0xfe, 0x21, 0x05, 0xff, 0x00, 0x4c, 0x00, 0x00, 0x40, 0x40, 0x00, 0x00, 0x00, 0x40,
                             0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
                             0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xf6, 0x00, 0x01, 0x00, 0x01, 0x60, 0xe9};

const Bytes kImuFlagFrame = {0xfe, 0x02, 0x00, 0x00, 0x00, 0xdb, 0x01, 0x01, 0xda, 0x06};

Bytes Serialise(const MavlinkMessage &message) {
    Bytes wire(kMavlinkMaxFrameLength + 1, 0xA5);
    const uint16_t length = Mavlink_MsgToSendBuffer(wire.data(), &message);
    EXPECT_EQ(0xA5, wire[length]) << "wrote past the frame";
    wire.resize(length);
    return wire;
}

struct FeedResult {
    std::vector<MavlinkMessage> frames;
    int dropped = 0;         // sum of the drop counts reported after each byte
    MavlinkStatus last = {}; // the status reported after the last byte
};

// Feeds bytes on one channel and collects what the parser reported.
FeedResult Feed(MavlinkChannels &channels, const Bytes &bytes, uint8_t channel = 0) {
    FeedResult result;
    for (uint8_t byte : bytes) {
        MavlinkMessage message{};
        if (Mavlink_ParseChar(&channels, channel, byte, &message, &result.last) == 1) {
            result.frames.push_back(message);
        }
        result.dropped += result.last.packetRxDropCount;
    }
    return result;
}

Bytes Concat(const Bytes &first, const Bytes &second) {
    Bytes joined = first;
    joined.insert(joined.end(), second.begin(), second.end());
    return joined;
}

TEST(MavlinkCrcExtra, TheDialectTable) {
    int entries = 0;
    for (int id = 0; id < 256; ++id) {
        entries += Mavlink_GetCrcExtra(static_cast<uint8_t>(id)) != 0 ? 1 : 0;
    }
    EXPECT_EQ(115, entries);
    EXPECT_EQ(50, Mavlink_GetCrcExtra(0));
    EXPECT_EQ(0, Mavlink_GetCrcExtra(3));
    EXPECT_EQ(152, Mavlink_GetCrcExtra(76));
    EXPECT_EQ(89, Mavlink_GetCrcExtra(200));
    EXPECT_EQ(223, Mavlink_GetCrcExtra(218));
    EXPECT_EQ(170, Mavlink_GetCrcExtra(219));
    EXPECT_EQ(46, Mavlink_GetCrcExtra(254));
    EXPECT_EQ(0, Mavlink_GetCrcExtra(255));
}

TEST(MavlinkPack, DeviceFlagFrame) {
    MavlinkChannels channels{};
    MavlinkMessage message{};
    EXPECT_EQ(10, Mavlink_PackDeviceFlag(&channels, 0, 0, &message, kMavlinkDeviceImu, 1));
    EXPECT_EQ(kImuFlagFrame, Serialise(message));
    EXPECT_EQ(0x06DA, message.checksum);

    MavlinkChannels structChannels{};
    MavlinkMessage structMessage{};
    const MavlinkDeviceFlag flag = {kMavlinkDeviceImu, 1};
    EXPECT_EQ(10, Mavlink_EncodeDeviceFlag(&structChannels, 0, 0, &structMessage, &flag));
    EXPECT_EQ(kImuFlagFrame, Serialise(structMessage));
}

// upgrade_fmu builds its restart request with the codec; the frame is the one the flight controller expects.
TEST(MavlinkPack, RestartRequestOfUpgradeFmu) {
    uint8_t frame[kMavlinkMaxFrameLength];
    const uint16_t length = Fmu_PackRebootToBootloader(frame);
    EXPECT_EQ(kRestartFrame, Bytes(frame, frame + length));
}

TEST(MavlinkPack, SequenceNumbersWrapAt256PerChannel) {
    MavlinkChannels channels{};
    MavlinkMessage message{};
    for (int expected = 0; expected < 256; ++expected) {
        Mavlink_PackDeviceFlag(&channels, 0, 0, &message, 0, 0);
        ASSERT_EQ(expected, message.sequence);
    }
    Mavlink_PackDeviceFlag(&channels, 0, 0, &message, 0, 0);
    EXPECT_EQ(0, message.sequence);

    Mavlink_FinalizeMessage(&channels, &message, 0, 0, 1, 0, 0);
    EXPECT_EQ(0, message.sequence) << "channel 1 counts on its own";
}

TEST(MavlinkPack, DeviceCommandAndDataLayouts) {
    MavlinkChannels channels{};
    MavlinkMessage message{};
    const uint8_t arguments[8] = {0x09, 0x00, 0x82, 0x00, 0x08, 0xEF, 0x34, 0x12};
    EXPECT_EQ(21, Mavlink_PackDeviceCommand(&channels, 0, 0, &message, kMavlinkDeviceImu, 0x485, arguments));
    const Bytes command = Serialise(message);
    const Bytes expectedPayload = {0x85, 0x04, 0x00, 0x00, 0x01, 0x09, 0x00, 0x82, 0x00, 0x08, 0xEF, 0x34, 0x12};
    EXPECT_EQ(expectedPayload, Bytes(command.begin() + 6, command.end() - 2));
    EXPECT_EQ(200, command[5]);

    memset(message.payload, 0x77, sizeof(message.payload));
    const uint8_t data[3] = {0xAB, 0xCD, 0xEF};
    EXPECT_EQ(262, Mavlink_PackDeviceData(&channels, 0, 0, &message, kMavlinkDeviceBms, 0x0F0000D6, 3, data));
    const Bytes frame = Serialise(message);
    ASSERT_EQ(262u, frame.size());
    EXPECT_EQ(Bytes({0xfe, 254, 1, 0, 0, 218, 0xD6, 0x00, 0x00, 0x0F, 3, 3, 0xAB, 0xCD, 0xEF}),
              Bytes(frame.begin(), frame.begin() + 15));
    for (size_t index = 15; index < 260; ++index) {
        ASSERT_EQ(0, frame[index]) << "data past the length must be zero, byte " << index;
    }
}

TEST(MavlinkParse, DocumentedFramesAndTheirStates) {
    MavlinkChannels channels{};
    const std::vector<MavlinkParseState> expected = {MavlinkParseState::GotStart,       MavlinkParseState::GotLength,
                                                     MavlinkParseState::GotSequence,    MavlinkParseState::GotSystemId,
                                                     MavlinkParseState::GotComponentId, MavlinkParseState::GotMessageId,
                                                     MavlinkParseState::GotMessageId,   MavlinkParseState::GotPayload,
                                                     MavlinkParseState::GotChecksum1,   MavlinkParseState::Idle};
    for (size_t index = 0; index < kImuFlagFrame.size(); ++index) {
        MavlinkMessage message{};
        MavlinkStatus status{};
        const uint8_t done = Mavlink_ParseChar(&channels, 0, kImuFlagFrame[index], &message, &status);
        EXPECT_EQ(expected[index], channels.statuses[0].parseState) << "after byte " << index;
        EXPECT_EQ(index + 1 == kImuFlagFrame.size() ? 1 : 0, done);
        if (done == 1) {
            EXPECT_EQ(0x06DA, message.checksum);
            EXPECT_EQ(0xDA, message.payload[2]);
            EXPECT_EQ(0x06, message.payload[3]);
            MavlinkDeviceFlag flag{};
            Mavlink_DecodeDeviceFlag(&message, &flag);
            EXPECT_EQ(1, flag.deviceId);
            EXPECT_EQ(1, flag.value);
            EXPECT_EQ(1, status.currentRxSequence);
            EXPECT_EQ(1, status.packetRxSuccessCount);
        }
    }

    const std::vector<MavlinkMessage> frames = Feed(channels, kRestartFrame).frames;
    ASSERT_EQ(1u, frames.size());
    EXPECT_EQ(Bytes(kRestartFrame), Serialise(frames[0]));
    MavlinkCommandLong command{};
    Mavlink_DecodeCommandLong(&frames[0], &command);
    EXPECT_EQ(246, command.command);
    EXPECT_EQ(3.0f, command.params[0]);
    EXPECT_EQ(2.0f, command.params[1]);
    EXPECT_EQ(1, command.targetSystem);
    EXPECT_EQ(1, command.confirmation);
}

TEST(MavlinkParse, ZeroLengthPayloadSkipsToTheChecksum) {
    MavlinkChannels sender{};
    MavlinkMessage message{};
    message.messageId = 0;
    EXPECT_EQ(8, Mavlink_FinalizeMessage(&sender, &message, 1, 1, 0, 0, Mavlink_GetCrcExtra(0)));
    const Bytes wire = Serialise(message);
    ASSERT_EQ(8u, wire.size());

    MavlinkChannels receiver{};
    MavlinkMessage received{};
    MavlinkStatus status{};
    for (size_t index = 0; index < 6; ++index) {
        EXPECT_EQ(0, Mavlink_ParseChar(&receiver, 0, wire[index], &received, &status));
    }
    EXPECT_EQ(MavlinkParseState::GotPayload, receiver.statuses[0].parseState);
    EXPECT_EQ(0, Mavlink_ParseChar(&receiver, 0, wire[6], &received, &status));
    EXPECT_EQ(1, Mavlink_ParseChar(&receiver, 0, wire[7], &received, &status));
    EXPECT_EQ(0, received.length);
    EXPECT_EQ(wire[6], received.payload[0]);
    EXPECT_EQ(wire[7], received.payload[1]);
}

TEST(MavlinkParse, IdWithoutCrcExtraNeedsZeroFromTheSender) {
    MavlinkChannels sender{};
    MavlinkMessage message{};
    message.messageId = 3;
    message.payload[0] = 0x42;
    Mavlink_FinalizeMessage(&sender, &message, 0, 0, 0, 1, 0);
    const Bytes plain = Serialise(message);
    Mavlink_FinalizeMessage(&sender, &message, 0, 0, 0, 1, 77);
    const Bytes withExtra = Serialise(message);

    MavlinkChannels receiver{};
    EXPECT_EQ(1u, Feed(receiver, plain).frames.size());
    const FeedResult rejected = Feed(receiver, withExtra);
    EXPECT_EQ(0u, rejected.frames.size());
    EXPECT_EQ(1, rejected.dropped);
    EXPECT_EQ(1, rejected.last.packetRxSuccessCount);
}

TEST(MavlinkParse, StartByteAsBadChecksumRestartsAFrame) {
    ASSERT_NE(0xFE, kImuFlagFrame[8]);
    ASSERT_NE(0xFE, kImuFlagFrame[9]);
    const Bytes rest(kImuFlagFrame.begin() + 1, kImuFlagFrame.end());

    Bytes badLow(kImuFlagFrame.begin(), kImuFlagFrame.begin() + 8);
    badLow.push_back(0xFE);
    MavlinkChannels channels{};
    std::vector<MavlinkMessage> frames = Feed(channels, Concat(badLow, rest)).frames;
    ASSERT_EQ(1u, frames.size());
    EXPECT_EQ(kImuFlagFrame, Serialise(frames[0]));

    Bytes badHigh(kImuFlagFrame.begin(), kImuFlagFrame.begin() + 9);
    badHigh.push_back(0xFE);
    frames = Feed(channels, Concat(badHigh, rest)).frames;
    ASSERT_EQ(1u, frames.size());
    EXPECT_EQ(kImuFlagFrame, Serialise(frames[0]));

    // Any other bad checksum byte is dropped, so the rest of the frame is not taken as a new one.
    Bytes badOther(kImuFlagFrame.begin(), kImuFlagFrame.begin() + 8);
    badOther.push_back(0x00);
    const FeedResult dropped = Feed(channels, Concat(badOther, rest));
    EXPECT_EQ(0u, dropped.frames.size());
    EXPECT_EQ(1, dropped.dropped);
}

TEST(MavlinkParse, StatusReportsCountsAndClearsErrors) {
    MavlinkChannels channels{};
    Bytes corrupted = kImuFlagFrame;
    corrupted[6] ^= 0x01;
    const Bytes noise = {0x00, 0x13, 0x55};
    FeedResult result = Feed(channels, Concat(noise, corrupted));
    EXPECT_EQ(1, result.dropped) << "one frame, one error, noise is not counted";
    EXPECT_EQ(0, result.last.packetRxDropCount) << "an error is reported once";
    EXPECT_EQ(0, result.last.packetRxSuccessCount);

    result = Feed(channels, kImuFlagFrame);
    EXPECT_EQ(0, result.dropped);
    EXPECT_EQ(1, result.last.packetRxSuccessCount);
    EXPECT_EQ(1, result.last.currentRxSequence);

    result = Feed(channels, kRestartFrame);
    EXPECT_EQ(2, result.last.packetRxSuccessCount);
    EXPECT_EQ(6, result.last.currentRxSequence);
}

// The caller gets the whole record, past the frame too: after a long frame and a short one on the same channel,
// the short frame's record still carries the long one's later payload bytes, as the channel's record does.
// Channels interleaved byte by byte keep their own records and counts.
TEST(MavlinkParse, WholeRecordsPerChannelThroughInterleavedFrames) {
    MavlinkChannels sender{};
    MavlinkMessage message{};
    message.messageId = 218;
    for (int index = 0; index < kMavlinkMaxPayloadLength; ++index) {
        message.payload[index] = static_cast<uint8_t>(0x80 ^ index);
    }
    Mavlink_FinalizeMessage(&sender, &message, 7, 8, 0, kMavlinkMaxPayloadLength, Mavlink_GetCrcExtra(218));
    const Bytes longest = Serialise(message);
    const Bytes channel9 = Concat(longest, kImuFlagFrame);
    const Bytes channel3 = Concat(kRestartFrame, kImuFlagFrame);

    MavlinkChannels channels{};
    std::vector<MavlinkMessage> frames[2];
    MavlinkStatus status{};
    for (size_t index = 0; index < std::max(channel9.size(), channel3.size()); ++index) {
        MavlinkMessage received{};
        if (index < channel9.size() && Mavlink_ParseChar(&channels, 9, channel9[index], &received, &status) == 1) {
            EXPECT_EQ(0, memcmp(&received, &channels.buffers[9], sizeof(received))) << "channel 9, byte " << index;
            frames[0].push_back(received);
        }
        if (index < channel3.size() && Mavlink_ParseChar(&channels, 3, channel3[index], &received, &status) == 1) {
            EXPECT_EQ(0, memcmp(&received, &channels.buffers[3], sizeof(received))) << "channel 3, byte " << index;
            frames[1].push_back(received);
        }
    }
    ASSERT_EQ(2u, frames[0].size());
    ASSERT_EQ(2u, frames[1].size());
    EXPECT_EQ(longest, Serialise(frames[0][0]));
    EXPECT_EQ(longest[261], frames[0][0].payload[255]) << "the checksum follows the longest payload";
    EXPECT_EQ(longest[262], frames[0][0].payload[256]);
    EXPECT_EQ(kImuFlagFrame, Serialise(frames[0][1]));
    EXPECT_EQ(longest[6 + 4], frames[0][1].payload[4]) << "left from the long frame";
    EXPECT_EQ(longest[6 + 254], frames[0][1].payload[254]);
    EXPECT_EQ(kRestartFrame, Serialise(frames[1][0]));
    EXPECT_EQ(kImuFlagFrame, Serialise(frames[1][1]));
    EXPECT_EQ(kRestartFrame[6 + 32], frames[1][1].payload[32]) << "left from the restart request";
    EXPECT_EQ(2, channels.statuses[9].packetRxSuccessCount);
    EXPECT_EQ(2, channels.statuses[3].packetRxSuccessCount);
    EXPECT_EQ(0, channels.statuses[0].packetRxSuccessCount);
    EXPECT_EQ(MavlinkParseState::Uninit, channels.statuses[0].parseState);
}

} // namespace
