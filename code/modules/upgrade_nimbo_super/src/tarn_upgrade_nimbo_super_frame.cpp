#include "tarn_upgrade_nimbo_super_frame.h"

#include <cerrno>
#include <cstring>

#include "tarn_byte_order.h"
#include "tarn_console.h"
#include "tarn_crc.h"
#include "tarn_time.h"

namespace {

constexpr uint8_t kSystemId = 0;
constexpr uint8_t kComponentId = 0;
constexpr uint8_t kChannel = 0;
constexpr uint32_t kReadChunk = 512;
constexpr int32_t kPort = 0;
constexpr int32_t kBaudrate = 115200;
constexpr uint32_t kFlagSettleUs = 500000;
constexpr int kProgramTries = 3;

} // namespace

uint16_t SuperFrame_CrcCcitt(const uint8_t *bytes, size_t count) {
    return Crc_CcittFalse(bytes, count);
}

uint16_t SuperFrame_CrcWords(const uint8_t *bytes, size_t count) {
    return static_cast<uint16_t>(Crc_Crc32Words(bytes, count));
}

int SuperFrame_Encode(uint8_t *carrier, uint32_t code, uint8_t sequence, uint8_t deviceId, uint8_t command,
                      const uint8_t *data, uint8_t length, SuperFrameCrc crc) {
    if (carrier == nullptr || (length > 0 && data == nullptr)) {
        TARN_ERR("NULL ERROR.\n");
        return -1;
    }
    if (length > kSuperMaxData) {
        TARN_ERR("data length 0x%02x error\n", length);
        return -1;
    }
    tarn::StoreLe32(carrier, code);
    carrier[4] = deviceId;
    carrier[5] = static_cast<uint8_t>(length + 8);
    uint8_t *frame = carrier + kSuperCarrierFrameOffset;
    frame[0] = 0x55;
    frame[1] = 0xAA;
    frame[2] = sequence;
    frame[3] = deviceId;
    frame[4] = command;
    frame[5] = length;
    if (length > 0) {
        memcpy(frame + 6, data, length);
    }
    // The CRC sits at a fixed place whatever the length; the bytes between stay zero.
    tarn::StoreLe16(frame + kSuperFrameCrcOffset, crc(frame, 6u + length));
    return 0;
}

int SuperFrame_CheckCarrier(const SuperLink &link, const uint8_t *carrier) {
    if (carrier[4] != link.deviceId) {
        TARN_ERR("Error device ID 0x%02x\n", carrier[4]);
        return -1;
    }
    if (carrier[5] >= 249) {
        TARN_ERR("frame length  error: 0x%x\n", carrier[5]);
        return -1;
    }
    return 0;
}

int SuperFrame_CheckFrame(const SuperLink &link, const uint8_t *frame) {
    if (frame[0] != 0x55 || frame[1] != 0xAA) {
        TARN_ERR("Error sync word expect 0x55AA , actual 0x%02x%02x\n", frame[0], frame[1]);
        return -1;
    }
    if (frame[5] > kSuperMaxData) {
        TARN_ERR("data length 0x%02x error\n", frame[5]);
        return -1;
    }
    if (frame[3] != link.deviceId) {
        TARN_ERR("Error device ID 0x%02x\n", frame[3]);
        return -1;
    }
    const uint16_t computed = link.crc(frame, 6u + frame[5]);
    const uint16_t received = tarn::LoadLe16(frame + kSuperFrameCrcOffset);
    if (computed != received) {
        TARN_ERR("Error crc 0x%x. expect 0x%x\n", computed, received);
        return -1;
    }
    return 0;
}

SuperReply SuperFrame_Judge(SuperLink *link, const MavlinkMessage &message) {
    if (message.messageId != kMavlinkMsgIdDeviceCommand) {
        return SuperReply::None;
    }
    // The whole payload area is the carrier, whatever length the message declared.
    uint8_t carrier[kSuperCarrierLength] = {};
    memcpy(carrier, message.payload, kMavlinkDeviceDataLength);
    if (SuperFrame_CheckCarrier(*link, carrier) != 0) {
        TARN_WARN("received error frame.\n");
        return SuperReply::None;
    }
    const uint8_t *frame = carrier + kSuperCarrierFrameOffset;
    if (SuperFrame_CheckFrame(*link, frame) != 0) {
        TARN_WARN("received error packet.\n");
        return SuperReply::None;
    }
    if (frame[5] == 1 && frame[6] == kSuperNack) {
        TARN_WARN("received NACK.\n");
        return SuperReply::Nack;
    }
    memcpy(link->reply, carrier, kSuperCarrierLength);
    return SuperReply::Accepted;
}

bool SuperFrame_Feed(SuperLink *link, const uint8_t *bytes, size_t count) {
    for (size_t index = 0; index < count; ++index) {
        MavlinkMessage message{};
        MavlinkStatus status{};
        if (Mavlink_ParseChar(&link->channels, kChannel, bytes[index], &message, &status) != 0 &&
            SuperFrame_Judge(link, message) == SuperReply::Accepted) {
            return true;
        }
    }
    return false;
}

uint16_t SuperFrame_PackWithSequence(SuperLink *link, uint32_t code, uint8_t sequence, uint8_t command,
                                     const uint8_t *data, uint8_t length, uint8_t *wire) {
    uint8_t carrier[kSuperCarrierLength] = {};
    if (SuperFrame_Encode(carrier, code, sequence, link->deviceId, command, data, length, link->crc) != 0) {
        return 0;
    }
    // The whole 248-byte frame goes out: a copy cut at the data length would lose the CRC at offset 246.
    MavlinkDeviceData fields{};
    fields.code = code;
    fields.deviceId = carrier[4];
    fields.dataLength = carrier[5];
    memcpy(fields.data, carrier + kSuperCarrierFrameOffset, kSuperFrameLength);
    MavlinkMessage message{};
    Mavlink_EncodeDeviceData(&link->channels, kSystemId, kComponentId, &message, &fields);
    return Mavlink_MsgToSendBuffer(wire, &message);
}

uint16_t SuperFrame_Pack(SuperLink *link, uint32_t code, uint8_t command, const uint8_t *data, uint8_t length,
                         uint8_t *wire) {
    const uint8_t sequence = static_cast<uint8_t>(link->sequence++);
    return SuperFrame_PackWithSequence(link, code, sequence, command, data, length, wire);
}

int SuperFrame_Recv(SuperLink *link, uint8_t *buffer, uint32_t count) {
    const int got = Uart_ReadTimeout(link->port, buffer, count, link->readWaitMs);
    if (got < 0) {
        TARN_ERR("read fail.\n");
        return -1;
    }
    return got;
}

int SuperFrame_Send(SuperLink *link, const uint8_t *buffer, uint32_t count) {
    if (Uart_Write(link->port, buffer, count) != static_cast<int>(count)) {
        TARN_ERR("write fail.\n");
        return -1;
    }
    return 0;
}

void SuperFrame_Discard(SuperLink *link) {
    uint8_t stale[kReadChunk];
    while (Uart_ReadTimeout(link->port, stale, sizeof stale, 0) > 0) {
    }
    MavlinkStatus &status = link->channels.statuses[kChannel];
    status.parseState = MavlinkParseState::Idle;
    status.packetIndex = 0;
}

int SuperFrame_WaitAck(SuperLink *link, uint32_t seconds) {
    const uint32_t start = Time_GetSec();
    while (Time_GetSec() - start <= seconds) {
        uint8_t bytes[kReadChunk];
        const int got = SuperFrame_Recv(link, bytes, sizeof bytes);
        if (got < 0) {
            TARN_ERR("read fail.\n");
            return -1;
        }
        if (got == 0) {
            TARN_WARN("read null.\n");
            continue;
        }
        if (SuperFrame_Feed(link, bytes, static_cast<size_t>(got))) {
            return 0;
        }
    }
    TARN_ERR("ack timeout.\n");
    return -1;
}

int SuperFrame_SendAndWait(SuperLink *link, const uint8_t *wire, uint16_t length, uint32_t seconds) {
    SuperFrame_Discard(link);
    return SuperFrame_Send(link, wire, length) == 0 && SuperFrame_WaitAck(link, seconds) == 0 ? 0 : -1;
}

int SuperFrame_Command(SuperLink *link, uint32_t code, uint8_t command, const uint8_t *data, uint8_t length) {
    uint8_t wire[kMavlinkMaxFrameLength];
    const uint16_t packed = SuperFrame_Pack(link, code, command, data, length, wire);
    if (packed == 0 || SuperFrame_SendAndWait(link, wire, packed, link->replyWaitS) != 0) {
        TARN_ERR("send data but no ack.\n");
        return -1;
    }
    return 0;
}

int SuperFrame_CommandWithResend(SuperLink *link, uint32_t code, uint8_t command, const uint8_t *data, uint8_t length,
                                 uint32_t seconds) {
    uint8_t wire[kMavlinkMaxFrameLength];
    const uint16_t packed = SuperFrame_Pack(link, code, command, data, length, wire);
    if (packed == 0) {
        TARN_ERR("send data but no ack.\n");
        return -1;
    }
    if (SuperFrame_SendAndWait(link, wire, packed, seconds) == 0) {
        return 0;
    }
    TARN_WARN("send data but no ack, try it again.\n");
    if (SuperFrame_SendAndWait(link, wire, packed, seconds) == 0) {
        return 0;
    }
    TARN_ERR("send data but no ack.\n");
    return -1;
}

int SuperFrame_SetFlag(SuperLink *link, uint32_t code, uint8_t flag) {
    const uint8_t value = flag != 0 ? 1 : 0;
    uint8_t wire[kMavlinkMaxFrameLength];
    const uint16_t packed = SuperFrame_Pack(link, code, 0x11, &value, 1, wire);
    if (packed == 0 || SuperFrame_Send(link, wire, packed) != 0) {
        TARN_ERR("send data fail.\n");
        return -1;
    }
    return 0;
}

namespace {

int OpenPort(SuperLink *link) {
    const UartParam param{kPort, kBaudrate};
    if (Uart_Create(&link->port, &param) != 0) {
        TARN_ERR("Uart_Create \n");
        return -1;
    }
    return 0;
}

} // namespace

int SuperFrame_Query(SuperLink *link, const SuperQuery &query, uint32_t *value) {
    *value = 0;
    if (OpenPort(link) != 0) {
        return -1;
    }
    SuperFrame_SetFlag(link, query.flagCode, 1);
    Time_SleepUs(kFlagSettleUs);
    int result = -1;
    const bool answered =
        query.resend ? SuperFrame_CommandWithResend(link, query.code, query.command, nullptr, 0, query.replyWaitS) == 0
                     : SuperFrame_Command(link, query.code, query.command, nullptr, 0) == 0;
    if (answered) {
        const uint8_t length = SuperFrame_ReplyLength(*link);
        if (length != query.replyLength) {
            TARN_ERR("expect data length %u, actual is 0x%02x .\n", query.lengthNamed, length);
        } else {
            *value = query.read(SuperFrame_ReplyData(*link));
            result = 0;
        }
    }
    SuperFrame_SetFlag(link, query.flagCode, 0);
    Uart_Delete(&link->port);
    return result;
}

int SuperFrame_Program(SuperLink *link, const SuperProgram &program, const uint8_t *image, uint32_t size,
                       std::atomic<uint32_t> *progress) {
    uint32_t remaining = size;
    const uint8_t *cursor = image;
    uint16_t chunkNumber = 1;
    int failures = 0; // over the whole image, not per chunk
    while (remaining != 0) {
        const uint8_t chunk = static_cast<uint8_t>(remaining > kSuperMaxData ? kSuperMaxData : remaining);
        // The data frame owns the sequence number; its header goes out with 0.
        const uint8_t sequence = static_cast<uint8_t>(link->sequence++);
        uint8_t header[kMavlinkMaxFrameLength];
        uint16_t headerLength = 0;
        if (program.chunkHeader) {
            uint8_t fields[8] = {chunk, 0};
            tarn::StoreLe16(fields + 2, chunkNumber);
            tarn::StoreLe32(fields + 4, Crc_Crc32Words(cursor, chunk));
            headerLength = SuperFrame_PackWithSequence(link, program.headerCode, 0, program.headerCommand, fields,
                                                       sizeof fields, header);
        }
        uint8_t data[kMavlinkMaxFrameLength];
        const uint16_t dataLength =
            SuperFrame_PackWithSequence(link, program.dataCode, sequence, program.dataCommand, cursor, chunk, data);
        for (;;) {
            if (failures >= kProgramTries) {
                TARN_ERR("send upgrade data error afte three time retry.\n");
                return -1;
            }
            // Every try sends the very same bytes: a device that saw the first copy knows the sequence.
            bool done = false;
            if (program.chunkHeader) {
                SuperFrame_Discard(link);
                if (SuperFrame_Send(link, header, headerLength) != 0) {
                    TARN_WARN("send data error.\n");
                } else if (SuperFrame_WaitAck(link, program.headerWaitS) != 0) {
                    TARN_WARN("wait ack error.\n");
                } else {
                    done = true;
                }
                if (!done) {
                    ++failures;
                    continue;
                }
            }
            SuperFrame_Discard(link);
            if (SuperFrame_Send(link, data, dataLength) != 0) {
                TARN_WARN("send data error.\n");
            } else if (SuperFrame_WaitAck(link, program.dataWaitS) != 0) {
                TARN_WARN("wait ack error.\n");
            } else {
                break;
            }
            ++failures;
        }
        remaining -= chunk;
        cursor += chunk;
        ++chunkNumber;
        *progress = static_cast<uint32_t>((static_cast<uint64_t>(size) - remaining) * 100 / size);
    }
    return 0;
}

int SuperFrame_RunToApp(SuperLink *link, uint32_t code, uint32_t flagCode) {
    if (SuperFrame_Command(link, code, 0x0D, nullptr, 0) != 0) {
        return -1;
    }
    Time_SleepUs(kFlagSettleUs);
    if (SuperFrame_SetFlag(link, flagCode, 0) != 0) {
        TARN_ERR("set flag error.\n");
        return -1;
    }
    return 0;
}

int SuperFrame_RunEntry(SuperLink *link, const SuperEntry &entry, const char *path, FirmwareImage *image) {
    uint32_t size = 0;
    if (Firmware_GetSize(path, &size) != 0) {
        TARN_SYSERR(entry.texts.statCall);
        size = UINT32_MAX;
    }
    const FirmwareLoad load = Firmware_Load(path, size, entry.blockLength, 0x00, image);
    if (load.status != FirmwareStatus::Ok) {
        errno = load.error;
        switch (load.status) {
            case FirmwareStatus::OpenFailed:
                TARN_SYSERR(entry.texts.openCall);
                break;
            case FirmwareStatus::NoMemory:
                TARN_ERR("%s", entry.texts.noMemory);
                break;
            case FirmwareStatus::ReadFailed:
                TARN_SYSERR(entry.texts.readCall);
                break;
            case FirmwareStatus::ShortRead:
                TARN_ERR("read %d byte except %d byte.\n", static_cast<int>(load.countRead), static_cast<int>(size));
                break;
            case FirmwareStatus::Ok:
            case FirmwareStatus::Empty: // nothing to say but the line below
                break;
        }
        TARN_ERR("get file buf fail.\n");
        return -1;
    }
    if (OpenPort(link) != 0) {
        *image = FirmwareImage{};
        return -1;
    }
    TARN_INFO("begin to upgrade file='%s' size=%d to firmware.\n", path, static_cast<int>(size));
    int result = -1;
    for (int run = 1; run <= entry.runs && result != 0; ++run) {
        result = entry.procedure();
        if (result == 0 || run == entry.runs) {
            break;
        }
        if (run == 1 && entry.retryWarning != nullptr) {
            TARN_WARN("%s", entry.retryWarning);
        }
        Time_SleepUs(uint64_t{run == 1 ? entry.pauseAfterFirstMs : entry.pauseAfterSecondMs} * 1000);
    }
    if (result != 0) {
        TARN_ERR("%s", entry.failure);
    }
    *image = FirmwareImage{};
    Uart_Delete(&link->port);
    return result;
}
