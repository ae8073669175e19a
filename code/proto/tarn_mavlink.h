// MAVLink 1.0 link layer: frames, the X.25 checksum with CRC extra, the byte-wise parser, and the device
// messages through which the tools command devices and move firmware.
//
// Channel state belongs to its user: every module that speaks MAVLink holds its own MavlinkChannels (zero
// at start), so no two users ever share a parser or a transmit sequence.
#pragma once

#include <array>
#include <cstdint>

inline constexpr uint8_t kMavlinkStart = 0xFE;
inline constexpr int kMavlinkChannelCount = 16;
inline constexpr uint16_t kMavlinkHeaderLength = 6;
inline constexpr uint16_t kMavlinkMaxPayloadLength = 255;
// A send buffer of this size holds any frame.
inline constexpr uint16_t kMavlinkMaxFrameLength = kMavlinkMaxPayloadLength + 8;

// One frame, as assembled by the parser or packed for sending. The payload area is followed on the wire by
// the two checksum bytes, which the record keeps right behind the payload (low byte first).
struct MavlinkMessage {
    uint16_t checksum;
    uint8_t start;
    uint8_t length;
    uint8_t sequence;
    uint8_t systemId;
    uint8_t componentId;
    uint8_t messageId;
    uint8_t payload[264];
};
static_assert(sizeof(MavlinkMessage) == 272, "the record is copied whole between parser, slots and callers");

enum class MavlinkParseState : uint32_t {
    Uninit = 0,
    Idle = 1,
    GotStart = 2,
    GotSequence = 3,
    GotLength = 4,
    GotSystemId = 5,
    GotComponentId = 6,
    GotMessageId = 7,
    GotPayload = 8,
    GotChecksum1 = 9,
};

struct MavlinkStatus {
    uint8_t messageReceived;
    uint8_t parseErrors;
    MavlinkParseState parseState;
    uint8_t packetIndex;
    uint8_t currentRxSequence;
    uint8_t currentTxSequence;
    uint16_t packetRxSuccessCount;
    uint16_t packetRxDropCount;
};

// The parse and transmit state of one user. Value-initialise it (`MavlinkChannels channels{};`).
struct MavlinkChannels {
    std::array<MavlinkMessage, kMavlinkChannelCount> buffers;
    std::array<MavlinkStatus, kMavlinkChannelCount> statuses;
};

// The dialect's CRC extra of a message id; 0 for an id without an entry.
uint8_t Mavlink_GetCrcExtra(uint8_t messageId);

void Mavlink_CrcAccumulate(uint8_t byte, uint16_t *checksum);
uint16_t Mavlink_CrcCalculate(const uint8_t *bytes, uint16_t count);

// Feeds one received byte to a channel. Returns 1 when it completed a frame with a good checksum; the frame
// is then in *message. *status receives the channel's counters.
uint8_t Mavlink_ParseChar(MavlinkChannels *channels, uint8_t channel, uint8_t byte, MavlinkMessage *message,
                          MavlinkStatus *status);

// Completes a record whose message id and payload are filled: header, the channel's next sequence number,
// checksum. Returns the frame length.
uint16_t Mavlink_FinalizeMessage(MavlinkChannels *channels, MavlinkMessage *message, uint8_t systemId,
                                 uint8_t componentId, uint8_t channel, uint8_t length, uint8_t crcExtra);

// Writes the frame in wire order; the buffer needs kMavlinkMaxFrameLength bytes. Returns the frame length.
uint16_t Mavlink_MsgToSendBuffer(uint8_t *buffer, const MavlinkMessage *message);

// Device ids carried by the device messages.
enum MavlinkDeviceId : uint8_t {
    kMavlinkDeviceFmu = 0,
    kMavlinkDeviceImu = 1,
    kMavlinkDeviceFlow = 2,
    kMavlinkDeviceBms = 3,
};

inline constexpr uint8_t kMavlinkMsgIdCommandLong = 76;
inline constexpr uint8_t kMavlinkMsgIdDeviceCommand = 200;
inline constexpr uint8_t kMavlinkMsgIdDeviceData = 218;
inline constexpr uint8_t kMavlinkMsgIdDeviceFlag = 219;

inline constexpr uint8_t kMavlinkCommandLongLength = 33;
inline constexpr uint8_t kMavlinkDeviceCommandLength = 13;
inline constexpr uint8_t kMavlinkDeviceDataLength = 254;
inline constexpr uint8_t kMavlinkDeviceFlagLength = 2;
inline constexpr int kMavlinkDeviceArgumentCount = 8;
inline constexpr int kMavlinkDeviceDataCapacity = 248;

// The message structures are laid out as their payloads, without padding. Packing and decoding still go field
// by field, so they do not depend on the host's byte order.
struct __attribute__((packed)) MavlinkDeviceCommand {
    uint32_t code;
    uint8_t deviceId;
    uint8_t arguments[kMavlinkDeviceArgumentCount];
};

struct __attribute__((packed)) MavlinkDeviceData {
    uint32_t code;
    uint8_t deviceId;
    uint8_t dataLength;
    uint8_t data[kMavlinkDeviceDataCapacity];
};

struct __attribute__((packed)) MavlinkDeviceFlag {
    uint8_t deviceId;
    uint8_t value;
};

struct __attribute__((packed)) MavlinkCommandLong {
    float params[7];
    uint16_t command;
    uint8_t targetSystem;
    uint8_t targetComponent;
    uint8_t confirmation;
};

static_assert(sizeof(MavlinkDeviceCommand) == kMavlinkDeviceCommandLength, "wire layout");
static_assert(sizeof(MavlinkDeviceData) == kMavlinkDeviceDataLength, "wire layout");
static_assert(sizeof(MavlinkDeviceFlag) == kMavlinkDeviceFlagLength, "wire layout");
static_assert(sizeof(MavlinkCommandLong) == kMavlinkCommandLongLength, "wire layout");

// Packing writes the payload and message id, finalizes on channel 0 and returns the frame length.
// A null arguments or data pointer sends zeros; data bytes past the data length are always zeros.
uint16_t Mavlink_PackDeviceCommand(MavlinkChannels *channels, uint8_t systemId, uint8_t componentId,
                                   MavlinkMessage *message, uint8_t deviceId, uint32_t code, const uint8_t *arguments);
uint16_t Mavlink_EncodeDeviceCommand(MavlinkChannels *channels, uint8_t systemId, uint8_t componentId,
                                     MavlinkMessage *message, const MavlinkDeviceCommand *command);
uint16_t Mavlink_PackDeviceData(MavlinkChannels *channels, uint8_t systemId, uint8_t componentId,
                                MavlinkMessage *message, uint8_t deviceId, uint32_t code, uint8_t dataLength,
                                const uint8_t *data);
uint16_t Mavlink_EncodeDeviceData(MavlinkChannels *channels, uint8_t systemId, uint8_t componentId,
                                  MavlinkMessage *message, const MavlinkDeviceData *data);
uint16_t Mavlink_PackDeviceFlag(MavlinkChannels *channels, uint8_t systemId, uint8_t componentId,
                                MavlinkMessage *message, uint8_t deviceId, uint8_t value);
uint16_t Mavlink_EncodeDeviceFlag(MavlinkChannels *channels, uint8_t systemId, uint8_t componentId,
                                  MavlinkMessage *message, const MavlinkDeviceFlag *flag);
uint16_t Mavlink_EncodeCommandLong(MavlinkChannels *channels, uint8_t systemId, uint8_t componentId,
                                   MavlinkMessage *message, const MavlinkCommandLong *command);

// Decoding reads the payload area whatever the received length, as the receivers of these messages expect.
void Mavlink_DecodeDeviceCommand(const MavlinkMessage *message, MavlinkDeviceCommand *command);
void Mavlink_DecodeDeviceData(const MavlinkMessage *message, MavlinkDeviceData *data);
void Mavlink_DecodeDeviceFlag(const MavlinkMessage *message, MavlinkDeviceFlag *flag);
void Mavlink_DecodeCommandLong(const MavlinkMessage *message, MavlinkCommandLong *command);
