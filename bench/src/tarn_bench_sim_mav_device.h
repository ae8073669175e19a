// The base of the device bootloaders reached through MAVLink device messages (IMU, optical flow, battery):
// frames are parsed on the simulator's own channels, those for its device id are recorded by message id
// (200 command, 218 data, 219 flag) and handed to the device; acknowledgements go back as DEVICE_COMMAND.
//
// Knobs beyond the base's (IgnoreNext by message id loses acks, SetReplyDelay makes them late, SetSilent):
// acknowledgements the tool must ignore sent before every real one; telemetry that never falls silent.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "tarn_bench_sim_mavlink.h"
#include "tarn_bench_simulator.h"
#include "tarn_mavlink.h"

namespace tarn::bench {

class MavDeviceSimulator : public Simulator {
public:
    static constexpr int kCommand = 200;
    static constexpr int kData = 218;
    static constexpr int kFlag = 219;

    MavDeviceSimulator(SimPort &port, uint8_t deviceId) : Simulator(port), deviceId_(deviceId) {}
    ~MavDeviceSimulator() override { Stop(); }

    // Before every acknowledgement, this many that the tool's rule must refuse.
    void SetForeignAcks(int count);
    // Telemetry frames on every idle turn, as a flight controller forwarding its own traffic would.
    void SetTelemetry(bool on);
    // The device's own reading of the problems it saw (CRC mismatches, requests out of order), in order.
    std::vector<std::string> Complaints() const;

protected:
    // A device message for this device, already recorded and cleared for an answer.
    virtual void OnCommand(uint32_t code, const uint8_t *arguments) = 0;
    virtual void OnData(uint32_t code, const uint8_t *data, uint8_t length) = 0;
    virtual void OnFlag(uint8_t value) = 0;
    // Sends (with SendCommand) one acknowledgement that the tool's rule must refuse.
    virtual void AcknowledgeWrongly() = 0;

    // Sends a DEVICE_COMMAND from the device: the foreign ones first, then this one.
    void SendAck(uint32_t code, const uint8_t *arguments);
    // Sends a DEVICE_COMMAND as it stands.
    void SendCommand(uint32_t code, const uint8_t *arguments);

    // Inline, so the class has no key function (the bench builds without RTTI, the tests with it).
    void OnBytes(const uint8_t *bytes, size_t count) override {
        for (size_t index = 0; index < count; ++index) {
            OnByte(bytes[index]);
        }
    }
    void OnIdle() override { SendTelemetry(); }

    mutable std::mutex stateLock_;        // guards the knobs and the derived device's state
    std::vector<std::string> complaints_; // guarded by stateLock_

private:
    void OnByte(uint8_t byte);
    void SendTelemetry();

    const uint8_t deviceId_;
    // Simulator thread only.
    SimMavlink mavlink_;
    // Guarded by stateLock_.
    int foreignAcks_ = 0;
    bool telemetry_ = false;
};

} // namespace tarn::bench
