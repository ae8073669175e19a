// MAVLink 1.0 parsing. The input's first byte picks the channel (low four bits) and the message of the round
// trip (high bits); the rest is the line.
//
// Every frame the parser accepts has a checksum that matches its header, payload and CRC extra, re-encodes to
// exactly the bytes that ended at that point, and is counted; the other channels are never touched. Last, a
// device message packed from the line's first bytes goes through a fresh parser and decodes to what was packed.
#include <cstring>

#include "fuzz_support.h"
#include "tarn_mavlink.h"

namespace {

bool IsZero(const void *pBytes, size_t size) {
    const auto *bytes = static_cast<const uint8_t *>(pBytes);
    for (size_t index = 0; index < size; ++index) {
        if (bytes[index] != 0) {
            return false;
        }
    }
    return true;
}

uint16_t ChecksumOf(const MavlinkMessage &message) {
    const uint8_t header[] = {message.length, message.sequence, message.systemId, message.componentId,
                              message.messageId};
    uint16_t checksum = Mavlink_CrcCalculate(header, sizeof(header));
    for (size_t index = 0; index < message.length; ++index) {
        Mavlink_CrcAccumulate(message.payload[index], &checksum);
    }
    Mavlink_CrcAccumulate(Mavlink_GetCrcExtra(message.messageId), &checksum);
    return checksum;
}

// Feeds a whole frame to a fresh channel 0; the frame must complete on its last byte and on no other.
MavlinkMessage ParseWhole(const uint8_t *frame, uint16_t length) {
    MavlinkChannels channels{};
    MavlinkMessage received{};
    MavlinkStatus status{};
    for (uint16_t index = 0; index < length; ++index) {
        const uint8_t done = Mavlink_ParseChar(&channels, 0, frame[index], &received, &status);
        FUZZ_CHECK((done == 1) == (index + 1 == length));
    }
    return received;
}

void RoundTrip(uint8_t kind, const uint8_t *bytes, size_t size) {
    uint8_t field[kMavlinkMaxPayloadLength] = {};
    memcpy(field, bytes, size < sizeof(field) ? size : sizeof(field));
    MavlinkChannels channels{};
    MavlinkMessage message{};
    uint8_t frame[kMavlinkMaxFrameLength];
    const uint32_t code = static_cast<uint32_t>(field[0] | field[1] << 8 | field[2] << 16) | uint32_t{field[3]} << 24;
    switch (kind % 4) {
        case 0: {
            Mavlink_PackDeviceCommand(&channels, field[4], field[5], &message, field[6], code, field + 7);
            const uint16_t length = Mavlink_MsgToSendBuffer(frame, &message);
            const MavlinkMessage received = ParseWhole(frame, length);
            MavlinkDeviceCommand command{};
            Mavlink_DecodeDeviceCommand(&received, &command);
            FUZZ_CHECK(received.systemId == field[4] && received.componentId == field[5]);
            FUZZ_CHECK(command.code == code && command.deviceId == field[6]);
            FUZZ_CHECK(memcmp(command.arguments, field + 7, sizeof(command.arguments)) == 0);
            break;
        }
        case 1: {
            const uint8_t dataLength = field[6];
            Mavlink_PackDeviceData(&channels, 255, 0, &message, field[5], code, dataLength, field + 7);
            const uint16_t length = Mavlink_MsgToSendBuffer(frame, &message);
            const MavlinkMessage received = ParseWhole(frame, length);
            MavlinkDeviceData decoded{};
            Mavlink_DecodeDeviceData(&received, &decoded);
            FUZZ_CHECK(decoded.code == code && decoded.deviceId == field[5] && decoded.dataLength == dataLength);
            // Bytes past the data length go out as zeros.
            const size_t kept = dataLength < kMavlinkDeviceDataCapacity ? dataLength : kMavlinkDeviceDataCapacity;
            FUZZ_CHECK(memcmp(decoded.data, field + 7, kept) == 0);
            FUZZ_CHECK(IsZero(decoded.data + kept, kMavlinkDeviceDataCapacity - kept));
            break;
        }
        case 2: {
            Mavlink_PackDeviceFlag(&channels, 255, 0, &message, field[4], field[5]);
            const uint16_t length = Mavlink_MsgToSendBuffer(frame, &message);
            const MavlinkMessage received = ParseWhole(frame, length);
            MavlinkDeviceFlag flag{};
            Mavlink_DecodeDeviceFlag(&received, &flag);
            FUZZ_CHECK(flag.deviceId == field[4] && flag.value == field[5]);
            break;
        }
        default: {
            MavlinkCommandLong command{};
            memcpy(&command, field, sizeof(command));
            Mavlink_EncodeCommandLong(&channels, 255, 0, &message, &command);
            const uint16_t length = Mavlink_MsgToSendBuffer(frame, &message);
            MavlinkCommandLong decoded{};
            const MavlinkMessage received = ParseWhole(frame, length);
            Mavlink_DecodeCommandLong(&received, &decoded);
            // Compared as bytes: a NaN parameter must come back with the same bits.
            FUZZ_CHECK(memcmp(&decoded, &command, sizeof(command)) == 0);
            break;
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    fuzz::CatchConsole();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    fuzz::ClearConsole();
    fuzz::Input input(data, size);
    const uint8_t shape = input.Byte();
    const uint8_t channel = shape & 0x0F;
    const uint8_t *line = input.Rest();
    const size_t length = input.Left();

    // Zero to the last byte, padding included, so that an untouched channel compares as zeros.
    static MavlinkChannels channels;
    memset(static_cast<void *>(&channels), 0, sizeof(channels));
    uint16_t frames = 0;
    for (size_t index = 0; index < length; ++index) {
        MavlinkMessage message{};
        MavlinkStatus status{};
        if (Mavlink_ParseChar(&channels, channel, line[index], &message, &status) == 0) {
            continue;
        }
        ++frames;
        FUZZ_CHECK(status.packetRxSuccessCount == frames);
        FUZZ_CHECK(status.currentRxSequence == static_cast<uint8_t>(message.sequence + 1));
        FUZZ_CHECK(message.start == kMavlinkStart);
        FUZZ_CHECK(message.checksum == ChecksumOf(message));
        uint8_t frame[kMavlinkMaxFrameLength];
        const uint16_t frameLength = Mavlink_MsgToSendBuffer(frame, &message);
        FUZZ_CHECK(frameLength == message.length + 8u && frameLength <= index + 1);
        FUZZ_CHECK(memcmp(frame, line + index + 1 - frameLength, frameLength) == 0);
    }
    for (int other = 0; other < kMavlinkChannelCount; ++other) {
        if (other != channel) {
            FUZZ_CHECK(IsZero(&channels.buffers[other], sizeof(MavlinkMessage)));
            FUZZ_CHECK(IsZero(&channels.statuses[other], sizeof(MavlinkStatus)));
        }
    }

    RoundTrip(shape >> 4, line, length);
    return 0;
}
