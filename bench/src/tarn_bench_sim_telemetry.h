// The flight controller's application side as its MAVLink line carries it: nine telemetry messages at their
// own rates with values a test sets, extra traffic on request (ids nobody handles, other systems, device
// messages for any device id), and a battery behind it that answers its three queries, refuses them or stays
// silent. Faults on the stream: corrupted checksums, truncated frames, noise between frames, bursts, silence,
// a saturated line.
//
// Frames received are recorded with their message id as kind.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "tarn_bench_sim_mavlink.h"
#include "tarn_bench_simulator.h"
#include "tarn_mavlink.h"

namespace tarn::bench {

class TelemetrySimulator : public Simulator {
public:
    enum class Battery { Answer, Refuse, Silent };

    explicit TelemetrySimulator(SimPort &port);
    ~TelemetrySimulator() override { Stop(); }

    // The payload a telemetry message carries from now on (its length is the message's own).
    void SetPayload(uint8_t messageId, const std::vector<uint8_t> &payload);
    // Telemetry on or off (off: the line is silent but for the battery's answers and SendMessage).
    void SetStreaming(bool on);
    // Every telemetry frame back to back, as fast as the line takes them.
    void SetSaturated(bool on);
    // Every nth telemetry frame gets a wrong checksum / loses its last bytes / is preceded by noise; 0: never.
    void SetCorruptEvery(uint32_t n);
    void SetTruncateEvery(uint32_t n);
    void SetNoiseEvery(uint32_t n);
    // Telemetry leaves in bursts of this many frames at once (1: as each falls due).
    void SetBurst(uint32_t frames);
    // Once a second: ids the flight controller's handler does not process, a heartbeat of another system,
    // and DEVICE_COMMAND, DEVICE_DATA and DEVICE_FLAG for devices 0 to 3 and 7.
    void SetExtras(bool on);
    void SetBattery(Battery mode);
    // The battery's values: versions as their two value bytes, the percentage as one.
    void SetBatteryValues(uint16_t appVersion, uint16_t bootloaderVersion, uint8_t percent);
    // Sends one frame now (any id, system and payload; CRC extra from the dialect's table, 0 for ids outside it).
    void SendMessage(uint8_t messageId, uint8_t systemId, const std::vector<uint8_t> &payload);

    // Every frame written whole and good, in order, with the time its last byte left.
    struct Sent {
        std::chrono::steady_clock::time_point at;
        std::vector<uint8_t> frame;
    };
    std::vector<Sent> SentFrames() const;

    // tarn-bench --knob: name=value (see the kind's description).
    int SetKnob(const std::string &name, const std::string &value) override;

protected:
    void OnBytes(const uint8_t *bytes, size_t count) override { HandleBytes(bytes, count); }
    void OnIdle() override { HandleIdle(); }

private:
    struct Pending {
        uint8_t messageId;
        uint8_t systemId;
        std::vector<uint8_t> payload;
    };
    struct Stream {
        uint8_t messageId;
        uint8_t length;
        uint32_t periodMs;
        std::chrono::steady_clock::time_point due;
        std::vector<uint8_t> payload;
    };

    void HandleBytes(const uint8_t *bytes, size_t count);
    void HandleIdle();
    void AnswerBattery(const MavlinkMessage &request);
    void SendExtras();
    std::vector<uint8_t> Pack(uint8_t messageId, uint8_t systemId, uint8_t componentId,
                              const std::vector<uint8_t> &payload);
    // Writes telemetry frames with the faults due; returns -1 when the line is blocked.
    int WriteTelemetry(const std::vector<std::vector<uint8_t>> &frames);
    int WriteGood(const std::vector<uint8_t> &frame);

    // Simulator thread only.
    SimMavlink mavlink_;
    uint32_t telemetryCount_ = 0;
    uint32_t noiseSeed_ = 1;
    std::chrono::steady_clock::time_point extrasDue_{};
    std::vector<std::vector<uint8_t>> held_; // a burst being gathered

    mutable std::mutex stateLock_;
    // Guarded by stateLock_: knobs set by the test thread, the stream table and the sent record.
    std::vector<Stream> streams_;
    bool streaming_ = true;
    bool saturated_ = false;
    uint32_t corruptEvery_ = 0;
    uint32_t truncateEvery_ = 0;
    uint32_t noiseEvery_ = 0;
    uint32_t burst_ = 1;
    bool extras_ = false;
    Battery battery_ = Battery::Answer;
    uint16_t appVersion_ = 0x0102;
    uint16_t bootloaderVersion_ = 0x0001;
    uint8_t percent_ = 87;
    std::vector<Sent> sent_;
    std::vector<Pending> pending_;
};

} // namespace tarn::bench
