#include "mlink.h"

#include <cstdio>
#include <cstring>

#include "tarn_console.h"
#include "tarn_crc.h"

void Mlink_Pack(MlinkMsg *pMsg, uint8_t devid, uint8_t cmd, uint8_t seq, uint8_t len, const uint8_t *pPayload) {
    pMsg->start = kMlinkStart;
    pMsg->devid = devid;
    pMsg->cmd = cmd;
    pMsg->seq = seq;
    pMsg->len = len;
    if (len != 0 && pPayload != nullptr) {
        memcpy(pMsg->payload, pPayload, len);
    }
    pMsg->checksum = Mlink_Checksum(pMsg);
}

uint8_t Mlink_Checksum(const MlinkMsg *pMsg) {
    const uint8_t header[kMlinkHeaderSize] = {pMsg->start, pMsg->devid, pMsg->cmd, pMsg->seq, pMsg->len};
    return Crc_Sum8(pMsg->payload, pMsg->len, Crc_Sum8(header, sizeof(header)));
}

int Mlink_IsValid(const MlinkMsg *pMsg) {
    const uint8_t calculated = Mlink_Checksum(pMsg);
    if (calculated == pMsg->checksum) {
        return 1;
    }
    TARN_ERR("checksum error, calc checksum=0x%02x, recv checksum=0x%02x\n", calculated, pMsg->checksum);
    Mlink_Dump(pMsg);
    return 0;
}

void Mlink_Dump(const MlinkMsg *pMsg) {
    // "0x%02x " is five characters per byte; formatted first so that the line leaves in one printf.
    char line[kMlinkFrameMax * 5 + 2];
    uint8_t frame[kMlinkFrameMax];
    const size_t size = Mlink_Serialise(pMsg, frame);
    frame[size - 1] = pMsg->checksum;
    size_t used = 0;
    for (size_t index = 0; index < size; ++index) {
        used += static_cast<size_t>(snprintf(line + used, sizeof(line) - used, "0x%02x ", frame[index]));
    }
    printf("%s\n", line);
}

size_t Mlink_Serialise(const MlinkMsg *pMsg, uint8_t (&frame)[kMlinkFrameMax]) {
    frame[0] = pMsg->start;
    frame[1] = pMsg->devid;
    frame[2] = pMsg->cmd;
    frame[3] = pMsg->seq;
    frame[4] = pMsg->len;
    memcpy(frame + kMlinkHeaderSize, pMsg->payload, pMsg->len);
    frame[kMlinkHeaderSize + pMsg->len] = Mlink_Checksum(pMsg);
    return kMlinkHeaderSize + pMsg->len + 1u;
}

const MlinkMsg *MlinkParser::Push(uint8_t byte) {
    switch (state_) {
        case State::Start:
            if (byte == kMlinkStart) {
                assembly_ = MlinkMsg{};
                counter_ = 0;
                assembly_.start = byte;
                state_ = State::DevId;
            }
            return nullptr;
        case State::DevId:
            if (byte != devid_) {
                TARN_WARN("MLINK_DEVID error, 0x%x.\n", byte);
                state_ = State::Start;
                return nullptr;
            }
            assembly_.devid = byte;
            state_ = State::Cmd;
            return nullptr;
        case State::Cmd:
            assembly_.cmd = byte;
            state_ = State::Seq;
            return nullptr;
        case State::Seq:
            assembly_.seq = byte;
            state_ = State::Len;
            return nullptr;
        case State::Len:
            assembly_.len = byte;
            state_ = byte != 0 ? State::Payload : State::Checksum;
            return nullptr;
        case State::Payload:
            assembly_.payload[counter_++] = byte;
            if (counter_ >= assembly_.len) {
                counter_ = 0;
                state_ = State::Checksum;
            }
            return nullptr;
        case State::Checksum:
            assembly_.checksum = byte;
            state_ = State::Start;
            return Mlink_IsValid(&assembly_) != 0 ? &assembly_ : nullptr;
    }
    return nullptr;
}
