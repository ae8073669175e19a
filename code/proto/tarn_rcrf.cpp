#include "tarn_rcrf.h"

#include <cstring>

#include "tarn_byte_order.h"
#include "tarn_crc.h"
#include "tarn_time.h"

uint8_t Rcrf_Crc8(const uint8_t *bytes, size_t count) {
    return Crc_Crc8(bytes, count);
}

void Rcrf_SetCrc(RcrfMsg *msg) {
    const uint8_t header[] = {msg->magic, msg->id, msg->cmd, msg->seq, msg->len};
    msg->crc = Crc_Crc8(msg->data, msg->len, Crc_Crc8(header, sizeof(header)));
}

void Rcrf_Pack(RcrfMsg *msg, uint8_t id, uint8_t cmd, uint8_t seq, const uint8_t *data, uint8_t length) {
    *msg = RcrfMsg();
    msg->magic = kRcrfMagic;
    msg->id = id;
    msg->cmd = cmd;
    msg->seq = seq;
    msg->len = length;
    if (length != 0) {
        memcpy(msg->data, data, length);
    }
    Rcrf_SetCrc(msg);
}

size_t Rcrf_MsgToBuffer(uint8_t *buffer, const RcrfMsg &msg) {
    buffer[0] = msg.magic;
    buffer[1] = msg.id;
    buffer[2] = msg.cmd;
    buffer[3] = msg.seq;
    buffer[4] = msg.len;
    memcpy(buffer + 5, msg.data, msg.len);
    buffer[5 + msg.len] = msg.crc;
    return msg.len + kRcrfOverhead;
}

void Rcrf_AppInfo(uint8_t data[kRcrfAppInfoLength], const uint8_t *image, uint32_t size) {
    tarn::StoreLe32(data, size);
    tarn::StoreLe32(data + 4, Rcrf_Crc8(image, size));
}

void Rcrf_ParserReset(RcrfParser *parser, uint8_t deviceId) {
    *parser = RcrfParser();
    parser->deviceId = deviceId;
}

bool Rcrf_ParseByte(RcrfParser *parser, uint8_t byte) {
    RcrfMsg &frame = parser->frame;
    switch (parser->state) {
        case RcrfParseState::Magic:
            if (byte == kRcrfMagic) {
                frame = RcrfMsg();
                frame.magic = byte;
                parser->index = 0;
                parser->state = RcrfParseState::Id;
            }
            return false;
        case RcrfParseState::Id:
            // Another device's frame is dropped from here; its bytes are not searched for a new start.
            parser->state = byte == parser->deviceId ? RcrfParseState::Cmd : RcrfParseState::Magic;
            frame.id = byte;
            return false;
        case RcrfParseState::Cmd:
            frame.cmd = byte;
            parser->state = RcrfParseState::Seq;
            return false;
        case RcrfParseState::Seq:
            frame.seq = byte;
            parser->state = RcrfParseState::Len;
            return false;
        case RcrfParseState::Len:
            frame.len = byte;
            parser->state = byte != 0 ? RcrfParseState::Data : RcrfParseState::Crc;
            return false;
        case RcrfParseState::Data:
            frame.data[parser->index++] = byte;
            if (parser->index == frame.len) {
                parser->state = RcrfParseState::Crc;
            }
            return false;
        case RcrfParseState::Crc:
            frame.crc = byte;
            parser->state = RcrfParseState::Magic;
            return true;
    }
    return false;
}

RcrfWaitResult Rcrf_Await(const RcrfWaitParam &param, RcrfParser *parser) {
    uint8_t buffer[kRcrfMaxFrameLength];
    const uint32_t capacity = param.readCapacity < sizeof(buffer) ? param.readCapacity : sizeof(buffer);
    const uint32_t start = Time_GetMs();
    while (Time_GetMs() - start <= param.limitMs) {
        const int count = param.receive(param.context, buffer, capacity);
        if (count < 0) {
            return RcrfWaitResult::ReadFailed;
        }
        for (int at = 0; at < count; ++at) {
            if (!Rcrf_ParseByte(parser, buffer[at])) {
                continue;
            }
            const RcrfMsg &frame = parser->frame;
            if (param.accepts != nullptr ? param.accepts(frame, param.context) : Rcrf_IsAck(frame)) {
                return RcrfWaitResult::Acknowledged;
            }
        }
    }
    return RcrfWaitResult::Expired;
}
