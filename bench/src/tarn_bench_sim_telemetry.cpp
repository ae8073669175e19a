#include "tarn_bench_sim_telemetry.h"

#include <cstdlib>
#include <cstring>
#include <poll.h>

#include "tarn_byte_order.h"

namespace tarn::bench {

namespace {

using Clock = std::chrono::steady_clock;

// The messages, typed from their published layouts: id, payload length, CRC extra, period.
struct TelemetryRow {
    uint8_t messageId;
    uint8_t length;
    uint8_t crcExtra;
    uint32_t periodMs;
};
constexpr TelemetryRow kTelemetry[] = {
    {0, 9, 50, 1000},    // heartbeat
    {1, 20, 187, 1000},  // system status (the dialect's)
    {24, 40, 185, 200},  // GPS raw data (the dialect's)
    {30, 28, 39, 100},   // attitude
    {32, 28, 185, 200},  // local position NED
    {33, 28, 104, 200},  // global position
    {49, 12, 39, 1000},  // GPS global origin
    {105, 72, 10, 100},  // high-resolution IMU (the dialect's)
    {214, 84, 56, 1000}, // battery (the dialect's)
};
// CRC extras of the other ids this simulator sends; an id outside the dialect's table checks with 0.
struct ExtraRow {
    uint8_t messageId;
    uint8_t crcExtra;
};
constexpr ExtraRow kOtherExtras[] = {{2, 137}, {200, 89}, {218, 223}, {219, 170}};
constexpr uint8_t kUnknownId = 3;

constexpr uint8_t kDeviceCommand = 200;
constexpr uint8_t kDeviceData = 218;
constexpr uint8_t kDeviceFlag = 219;
constexpr uint8_t kBatteryDevice = 3;
constexpr uint32_t kBatteryQueryBase = 0x0F000000;
constexpr uint8_t kQueryBootloaderVersion = 0xD7;
constexpr uint8_t kQueryAppVersion = 0xD8;
constexpr uint8_t kQueryPercent = 0xDA;
constexpr uint8_t kAcknowledged = 0xFD;
constexpr uint8_t kRefused = 0xFE;
constexpr uint8_t kFlightController = 1;
constexpr uint8_t kOtherSystem = 42;
constexpr uint32_t kSaturatedTurnMs = 1000;

uint8_t CrcExtraOf(uint8_t messageId) {
    for (const TelemetryRow &row : kTelemetry) {
        if (row.messageId == messageId) {
            return row.crcExtra;
        }
    }
    for (const ExtraRow &row : kOtherExtras) {
        if (row.messageId == messageId) {
            return row.crcExtra;
        }
    }
    return 0;
}

// Values a console shows as a living aircraft: a heartbeat and an attitude.
std::vector<uint8_t> DefaultPayload(const TelemetryRow &row) {
    std::vector<uint8_t> payload(row.length);
    if (row.messageId == 0) {
        StoreLe32(payload.data(), 4);
        payload[4] = 2;
        payload[5] = 3;
        payload[6] = 0x51;
        payload[7] = 4;
        payload[8] = 3;
    } else if (row.messageId == 30) {
        const float values[] = {0.05f, -0.02f, 1.57f, 0.01f, 0.0f, -0.01f};
        for (size_t index = 0; index < 6; ++index) {
            uint32_t bits;
            memcpy(&bits, &values[index], sizeof bits);
            StoreLe32(payload.data() + 4 + 4 * index, bits);
        }
    }
    return payload;
}

} // namespace

TelemetrySimulator::TelemetrySimulator(SimPort &port) : Simulator(port) {
    const Clock::time_point now = Clock::now();
    for (const TelemetryRow &row : kTelemetry) {
        streams_.push_back({row.messageId, row.length, row.periodMs, now, DefaultPayload(row)});
    }
}

void TelemetrySimulator::SetPayload(uint8_t messageId, const std::vector<uint8_t> &payload) {
    std::lock_guard<std::mutex> hold(stateLock_);
    for (Stream &stream : streams_) {
        if (stream.messageId == messageId) {
            stream.payload = payload;
            stream.payload.resize(stream.length);
        }
    }
}

void TelemetrySimulator::SetStreaming(bool on) {
    std::lock_guard<std::mutex> hold(stateLock_);
    streaming_ = on;
}

void TelemetrySimulator::SetSaturated(bool on) {
    if (on) {
        SetLineRate(kLineRate115200);
    }
    std::lock_guard<std::mutex> hold(stateLock_);
    saturated_ = on;
}

void TelemetrySimulator::SetCorruptEvery(uint32_t n) {
    std::lock_guard<std::mutex> hold(stateLock_);
    corruptEvery_ = n;
}

void TelemetrySimulator::SetTruncateEvery(uint32_t n) {
    std::lock_guard<std::mutex> hold(stateLock_);
    truncateEvery_ = n;
}

void TelemetrySimulator::SetNoiseEvery(uint32_t n) {
    std::lock_guard<std::mutex> hold(stateLock_);
    noiseEvery_ = n;
}

void TelemetrySimulator::SetBurst(uint32_t frames) {
    std::lock_guard<std::mutex> hold(stateLock_);
    burst_ = frames == 0 ? 1 : frames;
}

void TelemetrySimulator::SetExtras(bool on) {
    std::lock_guard<std::mutex> hold(stateLock_);
    extras_ = on;
}

void TelemetrySimulator::SetBattery(Battery mode) {
    std::lock_guard<std::mutex> hold(stateLock_);
    battery_ = mode;
}

void TelemetrySimulator::SetBatteryValues(uint16_t appVersion, uint16_t bootloaderVersion, uint8_t percent) {
    std::lock_guard<std::mutex> hold(stateLock_);
    appVersion_ = appVersion;
    bootloaderVersion_ = bootloaderVersion;
    percent_ = percent;
}

void TelemetrySimulator::SendMessage(uint8_t messageId, uint8_t systemId, const std::vector<uint8_t> &payload) {
    std::lock_guard<std::mutex> hold(stateLock_);
    pending_.push_back({messageId, systemId, payload});
}

std::vector<TelemetrySimulator::Sent> TelemetrySimulator::SentFrames() const {
    std::lock_guard<std::mutex> hold(stateLock_);
    return sent_;
}

int TelemetrySimulator::SetKnob(const std::string &name, const std::string &value) {
    if (name == "battery") {
        if (value != "answer" && value != "refuse" && value != "silent") {
            return -1;
        }
        SetBattery(value == "answer" ? Battery::Answer : value == "refuse" ? Battery::Refuse : Battery::Silent);
        return 0;
    }
    uint32_t n = 0;
    if (KnobNumber(value, &n) != 0) {
        return -1;
    }
    if (name == "silent") {
        SetStreaming(n == 0);
    } else if (name == "saturate") {
        SetSaturated(n != 0);
    } else if (name == "line-rate") {
        SetLineRate(n);
    } else if (name == "corrupt") {
        SetCorruptEvery(n);
    } else if (name == "truncate") {
        SetTruncateEvery(n);
    } else if (name == "noise") {
        SetNoiseEvery(n);
    } else if (name == "burst") {
        SetBurst(n);
    } else if (name == "extras") {
        SetExtras(n != 0);
    } else {
        return -1;
    }
    return 0;
}

std::vector<uint8_t> TelemetrySimulator::Pack(uint8_t messageId, uint8_t systemId, uint8_t componentId,
                                              const std::vector<uint8_t> &payload) {
    MavlinkMessage message{};
    message.messageId = messageId;
    const size_t length = std::min<size_t>(payload.size(), kMavlinkMaxPayloadLength);
    std::copy(payload.begin(), payload.begin() + static_cast<long>(length), message.payload);
    return mavlink_.Pack(&message, systemId, componentId, static_cast<uint8_t>(length), CrcExtraOf(messageId));
}

void TelemetrySimulator::HandleBytes(const uint8_t *bytes, size_t count) {
    for (size_t index = 0; index < count; ++index) {
        MavlinkMessage message{};
        if (!mavlink_.Parse(bytes[index], &message)) {
            continue;
        }
        const std::vector<uint8_t> wire = SimMavlink::Wire(message);
        if (RecordFrame(message.messageId, wire.data(), wire.size()) && message.messageId == kDeviceCommand &&
            message.payload[4] == kBatteryDevice) {
            AnswerBattery(message);
        }
    }
}

void TelemetrySimulator::AnswerBattery(const MavlinkMessage &request) {
    const uint32_t code = LoadLe32(request.payload);
    const uint8_t command = static_cast<uint8_t>(code);
    if ((code & 0xFF000000u) != kBatteryQueryBase ||
        (command != kQueryAppVersion && command != kQueryBootloaderVersion && command != kQueryPercent)) {
        return;
    }
    std::vector<uint8_t> reply(13);
    {
        std::lock_guard<std::mutex> hold(stateLock_);
        if (battery_ == Battery::Silent) {
            return;
        }
        const uint16_t value = command == kQueryAppVersion          ? appVersion_
                               : command == kQueryBootloaderVersion ? bootloaderVersion_
                                                                    : percent_;
        StoreLe32(reply.data(), battery_ == Battery::Refuse ? kRefused : kAcknowledged);
        StoreLe16(reply.data() + 8, value);
    }
    reply[4] = kBatteryDevice;
    reply[6] = command;
    SendFrame(Pack(kDeviceCommand, kFlightController, kBatteryDevice, reply));
}

void TelemetrySimulator::SendExtras() {
    // A system-time message the handler does not process, an id outside the dialect, another system's
    // heartbeat, then the device messages for every group and an invalid device.
    std::vector<std::vector<uint8_t>> frames = {
        Pack(2, kFlightController, 1, std::vector<uint8_t>(12)),
        Pack(kUnknownId, kFlightController, 1, std::vector<uint8_t>(5, 0x33)),
        Pack(0, kOtherSystem, 1, std::vector<uint8_t>(9)),
    };
    for (uint8_t device : {0, 1, 2, 3, 7}) {
        std::vector<uint8_t> command(13);
        command[4] = device;
        frames.push_back(Pack(kDeviceCommand, kFlightController, 1, command));
        std::vector<uint8_t> data(254);
        data[4] = device;
        frames.push_back(Pack(kDeviceData, kFlightController, 1, data));
        frames.push_back(Pack(kDeviceFlag, kFlightController, 1, {device, 1}));
    }
    for (const std::vector<uint8_t> &frame : frames) {
        WriteGood(frame);
    }
}

int TelemetrySimulator::WriteGood(const std::vector<uint8_t> &frame) {
    if (Port().Write(frame) < 0) {
        return -1;
    }
    std::lock_guard<std::mutex> hold(stateLock_);
    sent_.push_back({Clock::now(), frame});
    return 0;
}

int TelemetrySimulator::WriteTelemetry(const std::vector<std::vector<uint8_t>> &frames) {
    uint32_t corruptEvery, truncateEvery, noiseEvery;
    {
        std::lock_guard<std::mutex> hold(stateLock_);
        corruptEvery = corruptEvery_;
        truncateEvery = truncateEvery_;
        noiseEvery = noiseEvery_;
    }
    std::vector<uint8_t> block;
    std::vector<Sent> good;
    for (const std::vector<uint8_t> &frame : frames) {
        ++telemetryCount_;
        if (noiseEvery != 0 && telemetryCount_ % noiseEvery == 0) {
            for (int index = 0; index < 7; ++index) {
                noiseSeed_ = noiseSeed_ * 1103515245u + 12345u;
                block.push_back(static_cast<uint8_t>(noiseSeed_ >> 16));
            }
        }
        std::vector<uint8_t> wire = frame;
        if (corruptEvery != 0 && telemetryCount_ % corruptEvery == 0) {
            wire.back() ^= 0x5A;
        } else if (truncateEvery != 0 && telemetryCount_ % truncateEvery == 0) {
            wire.resize(wire.size() / 2);
        } else {
            good.push_back({{}, frame});
        }
        block.insert(block.end(), wire.begin(), wire.end());
    }
    if (Port().Write(block) < 0) {
        return -1;
    }
    const Clock::time_point now = Clock::now();
    std::lock_guard<std::mutex> hold(stateLock_);
    for (Sent &sent : good) {
        sent.at = now;
        sent_.push_back(std::move(sent));
    }
    return 0;
}

void TelemetrySimulator::HandleIdle() {
    std::vector<Pending> pending;
    bool streaming, saturated, extras;
    uint32_t burst;
    std::vector<Stream> streams;
    {
        std::lock_guard<std::mutex> hold(stateLock_);
        pending.swap(pending_);
        streaming = streaming_;
        saturated = saturated_;
        extras = extras_;
        burst = burst_;
        streams = streams_;
    }
    for (const Pending &message : pending) {
        WriteGood(Pack(message.messageId, message.systemId, 1, message.payload));
    }
    const Clock::time_point now = Clock::now();
    if (extras && now >= extrasDue_) {
        extrasDue_ = now + std::chrono::seconds(1);
        SendExtras();
    }
    if (!streaming) {
        return;
    }
    if (saturated) {
        // Frame after frame for up to a second, until the tool has something to say.
        const Clock::time_point until = now + std::chrono::milliseconds(kSaturatedTurnMs);
        pollfd entry{Port().MasterFd(), POLLIN, 0};
        for (size_t next = 0; Clock::now() < until && poll(&entry, 1, 0) == 0; next = (next + 1) % streams.size()) {
            const Stream &stream = streams[next];
            if (WriteTelemetry({Pack(stream.messageId, kFlightController, 1, stream.payload)}) != 0) {
                return;
            }
        }
        return;
    }
    std::vector<std::vector<uint8_t>> due;
    {
        std::lock_guard<std::mutex> hold(stateLock_);
        for (Stream &stream : streams_) {
            if (now >= stream.due) {
                stream.due = std::max(stream.due + std::chrono::milliseconds(stream.periodMs), now);
                due.push_back(Pack(stream.messageId, kFlightController, 1, stream.payload));
            }
        }
    }
    if (burst <= 1) {
        for (const std::vector<uint8_t> &frame : due) {
            WriteTelemetry({frame});
        }
        return;
    }
    // Held back until a burst is full, then written in one go.
    held_.insert(held_.end(), due.begin(), due.end());
    if (held_.size() >= burst) {
        WriteTelemetry(held_);
        held_.clear();
    }
}

} // namespace tarn::bench
