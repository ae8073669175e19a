#include "tarn_mavlink.h"

#include <algorithm>
#include <cstring>

#include "tarn_byte_order.h"
#include "tarn_console.h"
#include "tarn_crc.h"

namespace {

struct CrcExtraEntry {
    uint8_t messageId;
    uint8_t crcExtra;
};

// The dialect's entries; every other id has 0.
constexpr CrcExtraEntry kCrcExtraEntries[] = {
    {0, 50},    {1, 187},   {2, 137},   {4, 237},   {5, 217},   {6, 104},   {7, 119},   {11, 89},   {20, 214},
    {21, 159},  {22, 220},  {23, 168},  {24, 185},  {25, 23},   {26, 170},  {27, 144},  {28, 67},   {29, 115},
    {30, 39},   {31, 246},  {32, 185},  {33, 104},  {34, 237},  {35, 244},  {36, 222},  {37, 212},  {38, 9},
    {39, 254},  {40, 230},  {41, 28},   {42, 28},   {43, 132},  {44, 221},  {45, 232},  {46, 11},   {47, 153},
    {48, 41},   {49, 39},   {50, 214},  {51, 223},  {52, 141},  {53, 33},   {54, 15},   {55, 3},    {56, 100},
    {57, 24},   {58, 239},  {59, 238},  {60, 30},   {61, 240},  {62, 183},  {63, 130},  {64, 130},  {65, 118},
    {66, 148},  {67, 21},   {69, 243},  {70, 124},  {74, 20},   {75, 158},  {76, 152},  {77, 226},  {80, 127},
    {81, 106},  {83, 22},   {85, 140},  {87, 71},   {89, 231},  {90, 183},  {91, 63},   {92, 54},   {100, 187},
    {101, 102}, {102, 158}, {103, 208}, {104, 56},  {105, 10},  {106, 138}, {107, 108}, {108, 32},  {109, 185},
    {110, 235}, {111, 93},  {112, 124}, {113, 124}, {114, 119}, {115, 4},   {131, 223}, {132, 85},  {147, 177},
    {148, 241}, {149, 15},  {150, 43},  {151, 193}, {152, 241}, {153, 83},  {154, 36},  {155, 13},  {156, 154},
    {157, 116}, {200, 89},  {210, 116}, {214, 56},  {215, 65},  {217, 138}, {218, 223}, {219, 170}, {220, 238},
    {240, 72},  {249, 204}, {250, 49},  {251, 170}, {252, 44},  {253, 83},  {254, 46},
};

constexpr std::array<uint8_t, 256> BuildCrcExtraTable() {
    std::array<uint8_t, 256> table{};
    for (const CrcExtraEntry &entry : kCrcExtraEntries) {
        table[entry.messageId] = entry.crcExtra;
    }
    return table;
}

constexpr std::array<uint8_t, 256> kCrcExtraTable = BuildCrcExtraTable();

constexpr uint8_t kDeviceCommandCrcExtra = kCrcExtraTable[kMavlinkMsgIdDeviceCommand];
constexpr uint8_t kDeviceDataCrcExtra = kCrcExtraTable[kMavlinkMsgIdDeviceData];
constexpr uint8_t kDeviceFlagCrcExtra = kCrcExtraTable[kMavlinkMsgIdDeviceFlag];
constexpr uint8_t kCommandLongCrcExtra = kCrcExtraTable[kMavlinkMsgIdCommandLong];
static_assert(kDeviceCommandCrcExtra == 89 && kDeviceDataCrcExtra == 223 && kDeviceFlagCrcExtra == 170 &&
                  kCommandLongCrcExtra == 152,
              "the device messages and COMMAND_LONG need their CRC extras");

void PutFloat(uint8_t *destination, float value) {
    uint32_t bits = 0;
    memcpy(&bits, &value, sizeof(bits));
    tarn::StoreLe32(destination, bits);
}

float GetFloat(const uint8_t *source) {
    const uint32_t bits = tarn::LoadLe32(source);
    float value = 0;
    memcpy(&value, &bits, sizeof(value));
    return value;
}

// Starts assembling a frame on its start byte.
void BeginFrame(MavlinkMessage *buffer, MavlinkStatus *state, uint8_t byte) {
    state->parseState = MavlinkParseState::GotStart;
    buffer->length = 0;
    buffer->start = byte;
    buffer->checksum = 0xFFFF;
}

// A checksum byte did not match: count it and resynchronise, at once when the byte may start the next frame.
void RejectFrame(MavlinkMessage *buffer, MavlinkStatus *state, uint8_t byte) {
    ++state->parseErrors;
    state->parseState = MavlinkParseState::Idle;
    if (byte == kMavlinkStart) {
        BeginFrame(buffer, state, byte);
    }
}

// Tells the caller the channel's counters after a byte; the channel's parse errors are reported once.
inline void Report(MavlinkStatus *state, MavlinkStatus *status) {
    status->currentRxSequence = static_cast<uint8_t>(state->currentRxSequence + 1);
    status->packetRxSuccessCount = state->packetRxSuccessCount;
    status->packetRxDropCount = state->parseErrors;
    state->parseErrors = 0;
}

// The whole record in 16-byte moves: one 272-byte assignment compiles to a string instruction whose start-up
// alone costs more than the moves, once per frame of a telemetry stream of short frames.
void CopyRecord(MavlinkMessage *destination, const MavlinkMessage *source) {
    static_assert(sizeof(MavlinkMessage) % 16 == 0, "copied in 16-byte pieces");
    auto *to = reinterpret_cast<unsigned char *>(destination);
    const auto *from = reinterpret_cast<const unsigned char *>(source);
#pragma GCC unroll 17
    for (size_t offset = 0; offset < sizeof(MavlinkMessage); offset += 16) {
        memcpy(to + offset, from + offset, 16);
    }
}

// The second checksum byte matched. Kept out of line so the per-byte path needs no saved registers.
__attribute__((noinline)) uint8_t CompleteFrame(MavlinkMessage *buffer, MavlinkStatus *state, uint8_t byte,
                                                MavlinkMessage *message, MavlinkStatus *status) {
    state->messageReceived = 1;
    state->parseState = MavlinkParseState::Idle;
    buffer->payload[state->packetIndex + 1] = byte;
    state->currentRxSequence = buffer->sequence;
    if (state->packetRxSuccessCount == 0) {
        state->packetRxDropCount = 0;
    }
    ++state->packetRxSuccessCount;
    Report(state, status);
    CopyRecord(message, buffer);
    return 1;
}

// Every state but the payload: start, header, checksum bytes and the bytes between frames.
__attribute__((noinline)) uint8_t ParseFrameByte(MavlinkMessage *buffer, MavlinkStatus *state, uint8_t byte,
                                                 MavlinkMessage *message, MavlinkStatus *status) {
    const uint16_t checksum = buffer->checksum;
    switch (state->parseState) {
        case MavlinkParseState::Uninit:
        case MavlinkParseState::Idle:
            if (byte == kMavlinkStart) {
                BeginFrame(buffer, state, byte);
            }
            break;
        case MavlinkParseState::GotStart:
            state->packetIndex = 0;
            buffer->length = byte;
            buffer->checksum = Crc_X25Step(byte, checksum);
            state->parseState = MavlinkParseState::GotLength;
            break;
        case MavlinkParseState::GotLength:
            buffer->sequence = byte;
            buffer->checksum = Crc_X25Step(byte, checksum);
            state->parseState = MavlinkParseState::GotSequence;
            break;
        case MavlinkParseState::GotSequence:
            buffer->systemId = byte;
            buffer->checksum = Crc_X25Step(byte, checksum);
            state->parseState = MavlinkParseState::GotSystemId;
            break;
        case MavlinkParseState::GotSystemId:
            buffer->componentId = byte;
            buffer->checksum = Crc_X25Step(byte, checksum);
            state->parseState = MavlinkParseState::GotComponentId;
            break;
        case MavlinkParseState::GotComponentId: {
            const uint8_t length = buffer->length;
            buffer->messageId = byte;
            buffer->checksum = Crc_X25Step(byte, checksum);
            state->parseState = length == 0 ? MavlinkParseState::GotPayload : MavlinkParseState::GotMessageId;
            break;
        }
        case MavlinkParseState::GotMessageId: // the caller's fast path takes payload bytes
            break;
        case MavlinkParseState::GotPayload: {
            const uint8_t index = state->packetIndex;
            const uint16_t complete = Crc_X25Step(kCrcExtraTable[buffer->messageId], checksum);
            buffer->checksum = complete;
            if (byte == static_cast<uint8_t>(complete)) {
                buffer->payload[index] = byte;
                state->parseState = MavlinkParseState::GotChecksum1;
            } else {
                RejectFrame(buffer, state, byte);
            }
            break;
        }
        case MavlinkParseState::GotChecksum1:
            if (byte == static_cast<uint8_t>(checksum >> 8)) {
                return CompleteFrame(buffer, state, byte, message, status);
            }
            RejectFrame(buffer, state, byte);
            break;
    }
    state->messageReceived = 0;
    Report(state, status);
    return 0;
}

uint16_t Finalize(MavlinkChannels *channels, MavlinkMessage *message, uint8_t systemId, uint8_t componentId,
                  uint8_t messageId, uint8_t length) {
    message->messageId = messageId;
    return Mavlink_FinalizeMessage(channels, message, systemId, componentId, 0, length, kCrcExtraTable[messageId]);
}

} // namespace

uint8_t Mavlink_GetCrcExtra(uint8_t messageId) {
    return kCrcExtraTable[messageId];
}

void Mavlink_CrcAccumulate(uint8_t byte, uint16_t *checksum) {
    *checksum = Crc_X25Step(byte, *checksum);
}

uint16_t Mavlink_CrcCalculate(const uint8_t *bytes, uint16_t count) {
    return Crc_X25(bytes, count);
}

// The receive threads call this once per byte. Payload bytes are most of every stream: their path is tested
// first and kept free of calls, so it needs no saved registers; every other state is handled out of line. Each
// path reads what it needs into locals before its first store: the payload is bytes, and a byte store would
// otherwise make the compiler reload every field after it.
uint8_t Mavlink_ParseChar(MavlinkChannels *channels, uint8_t channel, uint8_t byte, MavlinkMessage *message,
                          MavlinkStatus *status) {
    TARN_ASSERT(channel < kMavlinkChannelCount);
    MavlinkMessage *buffer = &channels->buffers[channel];
    MavlinkStatus *state = &channels->statuses[channel];
    if (state->parseState != MavlinkParseState::GotMessageId) {
        return ParseFrameByte(buffer, state, byte, message, status);
    }

    const uint8_t index = state->packetIndex;
    const uint8_t length = buffer->length;
    const uint16_t checksum = buffer->checksum;
    buffer->payload[index] = byte;
    buffer->checksum = Crc_X25Step(byte, checksum);
    const uint8_t next = static_cast<uint8_t>(index + 1);
    state->packetIndex = next;
    if (next == length) {
        state->parseState = MavlinkParseState::GotPayload;
    }
    state->messageReceived = 0;
    Report(state, status);
    return 0;
}

uint16_t Mavlink_FinalizeMessage(MavlinkChannels *channels, MavlinkMessage *message, uint8_t systemId,
                                 uint8_t componentId, uint8_t channel, uint8_t length, uint8_t crcExtra) {
    TARN_ASSERT(channel < kMavlinkChannelCount);
    MavlinkStatus *state = &channels->statuses[channel];

    message->start = kMavlinkStart;
    message->length = length;
    message->systemId = systemId;
    message->componentId = componentId;
    message->sequence = state->currentTxSequence;
    state->currentTxSequence = static_cast<uint8_t>(state->currentTxSequence + 1);

    const uint8_t header[] = {message->length, message->sequence, message->systemId, message->componentId,
                              message->messageId};
    uint16_t checksum = Mavlink_CrcCalculate(header, sizeof(header));
    checksum = Crc_X25(message->payload, length, checksum);
    Mavlink_CrcAccumulate(crcExtra, &checksum);
    tarn::StoreLe16(message->payload + length, checksum);
    message->checksum = checksum;
    return static_cast<uint16_t>(length + 8);
}

uint16_t Mavlink_MsgToSendBuffer(uint8_t *buffer, const MavlinkMessage *message) {
    const uint8_t header[kMavlinkHeaderLength] = {message->start,    message->length,      message->sequence,
                                                  message->systemId, message->componentId, message->messageId};
    memcpy(buffer, header, sizeof(header));
    memcpy(buffer + kMavlinkHeaderLength, message->payload, message->length);
    uint8_t *checksum = buffer + kMavlinkHeaderLength + message->length;
    tarn::StoreLe16(checksum, message->checksum);
    return static_cast<uint16_t>(message->length + 8);
}

uint16_t Mavlink_PackDeviceCommand(MavlinkChannels *channels, uint8_t systemId, uint8_t componentId,
                                   MavlinkMessage *message, uint8_t deviceId, uint32_t code, const uint8_t *arguments) {
    uint8_t *payload = message->payload;
    tarn::StoreLe32(payload, code);
    payload[4] = deviceId;
    for (int index = 0; index < kMavlinkDeviceArgumentCount; ++index) {
        payload[5 + index] = arguments != nullptr ? arguments[index] : 0;
    }
    return Finalize(channels, message, systemId, componentId, kMavlinkMsgIdDeviceCommand, kMavlinkDeviceCommandLength);
}

uint16_t Mavlink_EncodeDeviceCommand(MavlinkChannels *channels, uint8_t systemId, uint8_t componentId,
                                     MavlinkMessage *message, const MavlinkDeviceCommand *command) {
    return Mavlink_PackDeviceCommand(channels, systemId, componentId, message, command->deviceId, command->code,
                                     command->arguments);
}

uint16_t Mavlink_PackDeviceData(MavlinkChannels *channels, uint8_t systemId, uint8_t componentId,
                                MavlinkMessage *message, uint8_t deviceId, uint32_t code, uint8_t dataLength,
                                const uint8_t *data) {
    uint8_t *payload = message->payload;
    tarn::StoreLe32(payload, code);
    payload[4] = deviceId;
    payload[5] = dataLength;
    memset(payload + 6, 0, kMavlinkDeviceDataCapacity);
    if (data != nullptr) {
        // A length byte above the capacity is sent as given, but no more than the capacity is copied.
        memcpy(payload + 6, data, std::min<size_t>(dataLength, kMavlinkDeviceDataCapacity));
    }
    return Finalize(channels, message, systemId, componentId, kMavlinkMsgIdDeviceData, kMavlinkDeviceDataLength);
}

uint16_t Mavlink_EncodeDeviceData(MavlinkChannels *channels, uint8_t systemId, uint8_t componentId,
                                  MavlinkMessage *message, const MavlinkDeviceData *data) {
    // The structure's data area is sent whole: the user cleared it before filling it.
    uint8_t *payload = message->payload;
    tarn::StoreLe32(payload, data->code);
    payload[4] = data->deviceId;
    payload[5] = data->dataLength;
    memcpy(payload + 6, data->data, kMavlinkDeviceDataCapacity);
    return Finalize(channels, message, systemId, componentId, kMavlinkMsgIdDeviceData, kMavlinkDeviceDataLength);
}

uint16_t Mavlink_PackDeviceFlag(MavlinkChannels *channels, uint8_t systemId, uint8_t componentId,
                                MavlinkMessage *message, uint8_t deviceId, uint8_t value) {
    message->payload[0] = deviceId;
    message->payload[1] = value;
    return Finalize(channels, message, systemId, componentId, kMavlinkMsgIdDeviceFlag, kMavlinkDeviceFlagLength);
}

uint16_t Mavlink_EncodeDeviceFlag(MavlinkChannels *channels, uint8_t systemId, uint8_t componentId,
                                  MavlinkMessage *message, const MavlinkDeviceFlag *flag) {
    return Mavlink_PackDeviceFlag(channels, systemId, componentId, message, flag->deviceId, flag->value);
}

uint16_t Mavlink_EncodeCommandLong(MavlinkChannels *channels, uint8_t systemId, uint8_t componentId,
                                   MavlinkMessage *message, const MavlinkCommandLong *command) {
    uint8_t *payload = message->payload;
    for (int index = 0; index < 7; ++index) {
        PutFloat(payload + 4 * index, command->params[index]);
    }
    tarn::StoreLe16(payload + 28, command->command);
    payload[30] = command->targetSystem;
    payload[31] = command->targetComponent;
    payload[32] = command->confirmation;
    return Finalize(channels, message, systemId, componentId, kMavlinkMsgIdCommandLong, kMavlinkCommandLongLength);
}

void Mavlink_DecodeDeviceCommand(const MavlinkMessage *message, MavlinkDeviceCommand *command) {
    const uint8_t *payload = message->payload;
    command->code = tarn::LoadLe32(payload);
    command->deviceId = payload[4];
    memcpy(command->arguments, payload + 5, kMavlinkDeviceArgumentCount);
}

void Mavlink_DecodeDeviceData(const MavlinkMessage *message, MavlinkDeviceData *data) {
    const uint8_t *payload = message->payload;
    data->code = tarn::LoadLe32(payload);
    data->deviceId = payload[4];
    data->dataLength = payload[5];
    memcpy(data->data, payload + 6, kMavlinkDeviceDataCapacity);
}

void Mavlink_DecodeDeviceFlag(const MavlinkMessage *message, MavlinkDeviceFlag *flag) {
    flag->deviceId = message->payload[0];
    flag->value = message->payload[1];
}

void Mavlink_DecodeCommandLong(const MavlinkMessage *message, MavlinkCommandLong *command) {
    const uint8_t *payload = message->payload;
    for (int index = 0; index < 7; ++index) {
        command->params[index] = GetFloat(payload + 4 * index);
    }
    command->command = tarn::LoadLe16(payload + 28);
    command->targetSystem = payload[30];
    command->targetComponent = payload[31];
    command->confirmation = payload[32];
}
