#include "tarn_bench_sim_mav_device.h"

#include "tarn_byte_order.h"

namespace tarn::bench {

namespace {

// The device's messages, typed from the link's published tables.
constexpr uint8_t kCommandId = 200;
constexpr uint8_t kDataId = 218;
constexpr uint8_t kFlagId = 219;
constexpr uint8_t kCommandLength = 13;
constexpr uint8_t kCommandCrcExtra = 89;
constexpr uint8_t kHeartbeatId = 0;
constexpr uint8_t kHeartbeatLength = 9;
constexpr uint8_t kHeartbeatCrcExtra = 50;
// Devices answer as system 1; the sender's ids are not what the tools look at.
constexpr uint8_t kDeviceSystem = 1;

} // namespace

void MavDeviceSimulator::SetForeignAcks(int count) {
    std::lock_guard<std::mutex> hold(stateLock_);
    foreignAcks_ = count;
}

void MavDeviceSimulator::SetTelemetry(bool on) {
    std::lock_guard<std::mutex> hold(stateLock_);
    telemetry_ = on;
}

std::vector<std::string> MavDeviceSimulator::Complaints() const {
    std::lock_guard<std::mutex> hold(stateLock_);
    return complaints_;
}

void MavDeviceSimulator::OnByte(uint8_t byte) {
    MavlinkMessage message{};
    if (!mavlink_.Parse(byte, &message)) {
        return;
    }
    const uint8_t *payload = message.payload;
    uint8_t device = 0xFF;
    if (message.messageId == kCommandId || message.messageId == kDataId) {
        device = payload[4];
    } else if (message.messageId == kFlagId) {
        device = payload[0];
    }
    if (device != deviceId_) {
        return;
    }
    const std::vector<uint8_t> wire = SimMavlink::Wire(message);
    if (!RecordFrame(message.messageId, wire.data(), wire.size())) {
        return;
    }
    if (message.messageId == kCommandId) {
        OnCommand(LoadLe32(payload), payload + 5);
    } else if (message.messageId == kDataId) {
        OnData(LoadLe32(payload), payload + 6, payload[5]);
    } else {
        OnFlag(payload[1]);
    }
}

void MavDeviceSimulator::SendCommand(uint32_t code, const uint8_t *arguments) {
    MavlinkMessage message{};
    message.messageId = kCommandId;
    StoreLe32(message.payload, code);
    message.payload[4] = deviceId_;
    for (int index = 0; index < 8; ++index) {
        message.payload[5 + index] = arguments[index];
    }
    SendFrame(mavlink_.Pack(&message, kDeviceSystem, deviceId_, kCommandLength, kCommandCrcExtra));
}

void MavDeviceSimulator::SendAck(uint32_t code, const uint8_t *arguments) {
    int foreign = 0;
    {
        std::lock_guard<std::mutex> hold(stateLock_);
        foreign = foreignAcks_;
    }
    for (int index = 0; index < foreign; ++index) {
        AcknowledgeWrongly();
    }
    SendCommand(code, arguments);
}

void MavDeviceSimulator::SendTelemetry() {
    {
        std::lock_guard<std::mutex> hold(stateLock_);
        if (!telemetry_) {
            return;
        }
    }
    MavlinkMessage heartbeat{};
    heartbeat.messageId = kHeartbeatId;
    Port().Write(mavlink_.Pack(&heartbeat, kDeviceSystem, 0, kHeartbeatLength, kHeartbeatCrcExtra));
}

} // namespace tarn::bench
