// A frozen copy of the earlier Mavlink_ParseChar, unchanged but for its name: the comparison point of the
// parser benchmark. Its checksum step stays an out-of-line call, as it was when the step lived in the CRC
// catalogue's own translation unit.
#include "mavlink_parse_before.h"

#include "tarn_crc.h"

namespace {

void BeginFrame(MavlinkMessage *buffer, MavlinkStatus *state, uint8_t byte) {
    state->parseState = MavlinkParseState::GotStart;
    buffer->length = 0;
    buffer->start = byte;
    buffer->checksum = 0xFFFF;
}

__attribute__((noinline)) uint16_t X25StepCall(uint8_t byte, uint16_t crc) {
    return Crc_X25Step(byte, crc);
}

void Accumulate(uint8_t byte, uint16_t *checksum) {
    *checksum = X25StepCall(byte, *checksum);
}

void TakeHeaderByte(MavlinkMessage *buffer, MavlinkStatus *state, uint8_t *field, uint8_t byte,
                    MavlinkParseState next) {
    *field = byte;
    Accumulate(byte, &buffer->checksum);
    state->parseState = next;
}

void RejectFrame(MavlinkMessage *buffer, MavlinkStatus *state, uint8_t byte) {
    ++state->parseErrors;
    state->parseState = MavlinkParseState::Idle;
    if (byte == kMavlinkStart) {
        BeginFrame(buffer, state, byte);
    }
}

} // namespace

uint8_t MavlinkBefore_ParseChar(MavlinkChannels *channels, uint8_t channel, uint8_t byte, MavlinkMessage *message,
                                MavlinkStatus *status) {
    MavlinkMessage *buffer = &channels->buffers[channel];
    MavlinkStatus *state = &channels->statuses[channel];

    state->messageReceived = 0;
    switch (state->parseState) {
        case MavlinkParseState::Uninit:
        case MavlinkParseState::Idle:
            if (byte == kMavlinkStart) {
                BeginFrame(buffer, state, byte);
            }
            break;
        case MavlinkParseState::GotStart:
            state->packetIndex = 0;
            TakeHeaderByte(buffer, state, &buffer->length, byte, MavlinkParseState::GotLength);
            break;
        case MavlinkParseState::GotLength:
            TakeHeaderByte(buffer, state, &buffer->sequence, byte, MavlinkParseState::GotSequence);
            break;
        case MavlinkParseState::GotSequence:
            TakeHeaderByte(buffer, state, &buffer->systemId, byte, MavlinkParseState::GotSystemId);
            break;
        case MavlinkParseState::GotSystemId:
            TakeHeaderByte(buffer, state, &buffer->componentId, byte, MavlinkParseState::GotComponentId);
            break;
        case MavlinkParseState::GotComponentId:
            TakeHeaderByte(buffer, state, &buffer->messageId, byte,
                           buffer->length == 0 ? MavlinkParseState::GotPayload : MavlinkParseState::GotMessageId);
            break;
        case MavlinkParseState::GotMessageId:
            buffer->payload[state->packetIndex++] = byte;
            Accumulate(byte, &buffer->checksum);
            if (state->packetIndex == buffer->length) {
                state->parseState = MavlinkParseState::GotPayload;
            }
            break;
        case MavlinkParseState::GotPayload:
            Accumulate(Mavlink_GetCrcExtra(buffer->messageId), &buffer->checksum);
            if (byte == static_cast<uint8_t>(buffer->checksum)) {
                buffer->payload[state->packetIndex] = byte;
                state->parseState = MavlinkParseState::GotChecksum1;
            } else {
                RejectFrame(buffer, state, byte);
            }
            break;
        case MavlinkParseState::GotChecksum1:
            if (byte == static_cast<uint8_t>(buffer->checksum >> 8)) {
                state->messageReceived = 1;
                state->parseState = MavlinkParseState::Idle;
                buffer->payload[state->packetIndex + 1] = byte;
                *message = *buffer;
            } else {
                RejectFrame(buffer, state, byte);
            }
            break;
    }

    if (state->messageReceived != 0) {
        state->currentRxSequence = buffer->sequence;
        if (state->packetRxSuccessCount == 0) {
            state->packetRxDropCount = 0;
        }
        ++state->packetRxSuccessCount;
    }

    status->currentRxSequence = static_cast<uint8_t>(state->currentRxSequence + 1);
    status->packetRxSuccessCount = state->packetRxSuccessCount;
    status->packetRxDropCount = state->parseErrors;
    state->parseErrors = 0;
    return state->messageReceived;
}
