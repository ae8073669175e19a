#include "tarn_bench_sim_fmu_super.h"

#include <cstdio>
#include <cstring>

#include "tarn_byte_order.h"
#include "tarn_crc.h"

namespace tarn::bench {

namespace {

// Typed from the devices' published tables.
constexpr uint8_t kDataId = 218;
constexpr uint8_t kCommandLongId = 76;
constexpr uint8_t kReplyId = 200;
constexpr uint8_t kReplyCrcExtra = 89;
constexpr uint8_t kCarrierLength = 254;
constexpr uint8_t kBattery = 3;
constexpr uint8_t kImu = 1;
constexpr uint8_t kFlow = 2;
constexpr uint8_t kFirstEsc = 4;
constexpr uint32_t kPlainWord = 0x0F000000;
constexpr uint32_t kTargetWord = 0x0F000100;
constexpr uint32_t kFlagWord = 0x0F000011;
constexpr uint8_t kFlag = 0x11;
constexpr uint8_t kEntry = 0x10;
constexpr uint8_t kAppInfo = 0x03;
constexpr uint8_t kRequest = 0x07;
constexpr uint8_t kErase = 0x08;
constexpr uint8_t kChunk = 0x09;
constexpr uint8_t kVerify = 0x0C;
constexpr uint8_t kRun = 0x0D;
constexpr uint8_t kVersion = 0x02;
constexpr uint8_t kPercent = 0x12;
constexpr uint8_t kNack = 0xFE;
constexpr uint8_t kBatteryEntry[4] = {0x42, 0x4D, 0x53, 0x55};
constexpr uint8_t kFlowEntry[8] = {0x4F, 0x46, 0x53, 0x55, 0x50, 0x45, 0x52, 0x21};
constexpr uint8_t kDeviceSystem = 1;

bool UsesWordCrc(uint8_t deviceId) {
    return deviceId == kFlow || deviceId >= kFirstEsc;
}

uint16_t FrameCrc(uint8_t deviceId, const uint8_t *frame, size_t count) {
    return UsesWordCrc(deviceId) ? static_cast<uint16_t>(Crc_Crc32Words(frame, count)) : Crc_CcittFalse(frame, count);
}

std::string Hex(const char *what, uint32_t value) {
    char text[64];
    snprintf(text, sizeof text, "%s 0x%x", what, value);
    return text;
}

} // namespace

void FmuSuperSimulator::SetNacks(int count) {
    std::lock_guard<std::mutex> hold(stateLock_);
    nacks_ = count;
}

void FmuSuperSimulator::SetReplyData(uint8_t deviceId, uint8_t command, std::vector<uint8_t> data) {
    std::lock_guard<std::mutex> hold(stateLock_);
    replyData_[Kind(deviceId, command)] = std::move(data);
}

std::vector<uint8_t> FmuSuperSimulator::Programmed(uint8_t deviceId, uint32_t target) const {
    std::lock_guard<std::mutex> hold(stateLock_);
    const auto found = devices_.find(uint32_t{deviceId} << 8 | target);
    return found == devices_.end() ? std::vector<uint8_t>{} : found->second.programmed;
}

bool FmuSuperSimulator::PassThrough() const {
    std::lock_guard<std::mutex> hold(stateLock_);
    return passThrough_;
}

bool FmuSuperSimulator::Running(uint8_t deviceId, uint32_t target) const {
    std::lock_guard<std::mutex> hold(stateLock_);
    const auto found = devices_.find(uint32_t{deviceId} << 8 | target);
    return found != devices_.end() && found->second.running;
}

std::vector<std::string> FmuSuperSimulator::Complaints() const {
    std::lock_guard<std::mutex> hold(stateLock_);
    return complaints_;
}

void FmuSuperSimulator::Complain(std::string complaint) {
    complaints_.push_back(std::move(complaint));
}

void FmuSuperSimulator::OnByte(uint8_t byte) {
    const bool inBootloader = InBootloader();
    if (inBootloader) {
        OnBootByte(byte);
    }
    MavlinkMessage message{};
    MavlinkStatus status{};
    if (Mavlink_ParseChar(&receive_, 0, byte, &message, &status) == 0) {
        return;
    }
    if (message.messageId == kCommandLongId) {
        OnCommandLong(message);
    } else if (message.messageId == kDataId && !inBootloader) {
        OnDeviceData(message.payload);
    }
}

void FmuSuperSimulator::OnDeviceData(const uint8_t *payload) {
    const uint32_t code = LoadLe32(payload);
    const uint8_t *frame = payload + 6;
    const uint8_t deviceId = frame[3];
    const uint8_t command = frame[4];
    const uint8_t length = frame[5];
    if (!RecordFrame(Kind(deviceId, command), payload, kCarrierLength)) {
        return;
    }
    std::unique_lock<std::mutex> hold(stateLock_);
    if (frame[0] != 0x55 || frame[1] != 0xAA || length > 240 || payload[4] != deviceId || payload[5] != length + 8) {
        Complain(Hex("malformed frame, command", command));
        return;
    }
    if (FrameCrc(deviceId, frame, 6u + length) != LoadLe16(frame + 246)) {
        Complain(Hex("frame CRC wrong, command", command));
        return;
    }
    if (command == kFlag && code == kFlagWord) {
        passThrough_ = length == 1 && frame[6] == 1;
        return;
    }
    if (!passThrough_) {
        return; // the flight controller keeps device traffic to itself
    }
    uint32_t target = 0;
    if (UsesWordCrc(deviceId)) {
        target = code >> 16 & 0xFF;
        const bool targetFits = deviceId == kFlow ? target == 1 || target == 2 : target == 3;
        if ((code & 0xFF00FF00) != kTargetWord || (code & 0xFF) != command || !targetFits) {
            Complain(Hex("wrong command word", code));
            return;
        }
    } else if (code != (kPlainWord | command)) {
        Complain(Hex("wrong command word", code));
        return;
    }
    if (!Handle(deviceId, target, command, frame[2], frame + 6, length)) {
        return;
    }
    std::vector<uint8_t> data = ReplyData(deviceId, command);
    const bool nack = nacks_ > 0;
    nacks_ -= nack ? 1 : 0;
    hold.unlock();
    if (nack) {
        SendCarrier(code, deviceId, frame[2], command, {kNack}, false);
    }
    Reply(code, deviceId, frame[2], command, std::move(data));
}

bool FmuSuperSimulator::Handle(uint8_t deviceId, uint32_t target, uint8_t command, uint8_t sequence,
                               const uint8_t *data, uint8_t length) {
    Device &device = devices_[uint32_t{deviceId} << 8 | target];
    switch (command) {
        case kEntry:
            if (deviceId == kBattery && (length != 4 || memcmp(data, kBatteryEntry, 4) != 0)) {
                Complain("wrong battery entry code");
                return false;
            }
            if (UsesWordCrc(deviceId) && (length != 8 || memcmp(data, kFlowEntry, 8) != 0)) {
                Complain("wrong entry code");
                return false;
            }
            device.running = false;
            return true;
        case kErase:
            device = Device{};
            device.erased = true;
            return true;
        case kFlag: // a chunk header: length, 0, chunk number, CRC of the chunk
            if (length != 8) {
                Complain("chunk header of wrong length");
                return false;
            }
            device.headerPending = true;
            device.headerLength = data[0];
            device.headerNumber = LoadLe16(data + 2);
            device.headerCrc = LoadLe32(data + 4);
            return true;
        case kChunk: {
            if (!device.erased) {
                Complain("data before erase");
                return false;
            }
            const bool repeat = device.haveChunk && sequence == device.lastSequence;
            if (UsesWordCrc(deviceId)) {
                const uint16_t expected = static_cast<uint16_t>(device.chunks + (repeat ? 0 : 1));
                if (!device.headerPending || device.headerLength != length || device.headerNumber != expected ||
                    device.headerCrc != Crc_Crc32Words(data, length)) {
                    Complain("chunk does not match its header");
                    return false;
                }
                device.headerPending = false;
            }
            // A resend of the chunk already kept (its answer was lost or late) is answered, not kept twice.
            if (!repeat) {
                device.programmed.insert(device.programmed.end(), data, data + length);
                ++device.chunks;
            }
            device.haveChunk = true;
            device.lastSequence = sequence;
            return true;
        }
        case kRun:
            device.running = true;
            return true;
        case kAppInfo:
        case kRequest:
        case kVerify:
        case kVersion:
        case kPercent:
            return true;
        default:
            Complain(Hex("unknown command", command));
            return false;
    }
}

std::vector<uint8_t> FmuSuperSimulator::ReplyData(uint8_t deviceId, uint8_t command) const {
    const auto replaced = replyData_.find(Kind(deviceId, command));
    if (replaced != replyData_.end()) {
        return replaced->second;
    }
    if (command == kVersion) {
        // Battery and IMU: firmware then hardware version, big-endian; the others: one little-endian word.
        if (UsesWordCrc(deviceId)) {
            return {0x78, 0x56, 0x34, 0x12};
        }
        return {0x01, 0x02, 0x03, 0x04, 0x0A, 0x0B, 0x0C, 0x0D};
    }
    if (command == kPercent) {
        return {87};
    }
    return {0x00};
}

void FmuSuperSimulator::Reply(uint32_t code, uint8_t deviceId, uint8_t sequence, uint8_t command,
                              std::vector<uint8_t> data) {
    if (TakeFault(Fault::WrongDeviceId)) {
        SendCarrier(code, static_cast<uint8_t>(deviceId ^ 0x40), sequence, command, data, false);
    }
    if (TakeFault(Fault::CorruptChecksum)) {
        SendCarrier(code, deviceId, sequence, command, data, true);
    }
    const uint8_t answered = TakeFault(Fault::WrongSequence) ? static_cast<uint8_t>(sequence + 1) : sequence;
    SendCarrier(code, deviceId, answered, command, data, false);
}

void FmuSuperSimulator::SendCarrier(uint32_t code, uint8_t deviceId, uint8_t sequence, uint8_t command,
                                    const std::vector<uint8_t> &data, bool corrupt) {
    MavlinkMessage message{};
    message.messageId = kReplyId;
    uint8_t *payload = message.payload;
    StoreLe32(payload, code);
    payload[4] = deviceId;
    payload[5] = static_cast<uint8_t>(data.size() + 8);
    uint8_t *frame = payload + 6;
    frame[0] = 0x55;
    frame[1] = 0xAA;
    frame[2] = sequence;
    frame[3] = deviceId;
    frame[4] = command;
    frame[5] = static_cast<uint8_t>(data.size());
    memcpy(frame + 6, data.data(), data.size());
    const uint16_t crc = FrameCrc(deviceId, frame, 6 + data.size());
    StoreLe16(frame + 246, corrupt ? static_cast<uint16_t>(crc ^ 0xFFFF) : crc);
    Mavlink_FinalizeMessage(&transmit_, &message, kDeviceSystem, 0, 0, kCarrierLength, kReplyCrcExtra);
    std::vector<uint8_t> wire(kMavlinkMaxFrameLength);
    wire.resize(Mavlink_MsgToSendBuffer(wire.data(), &message));
    SendFrame(wire);
}

} // namespace tarn::bench
