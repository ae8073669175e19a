// The second-generation flight controller on port 0 and, behind its pass-through flag, the devices it serves:
// battery (3), IMU (1), optical flow and sonar (2), speed controllers (4 + index). Requests are 0x55AA frames
// in DEVICE_DATA; answers go back in message 200 with the 254-byte carrier. Each device checks its command
// words, entry code, CRC, chunk headers and sequences, keeps what was programmed, and answers queries.
//
// Knobs beyond the base's (IgnoreNext by kind loses answers, SetReplyDelay makes them late, SetSilent,
// Arm(WrongDeviceId / CorruptChecksum / WrongSequence) sends a faulty copy first, then the real answer):
// NACKs before answers, reply data of a command replaced.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "tarn_bench_simulator.h"
#include "tarn_mavlink.h"

namespace tarn::bench {

class FmuSuperSimulator : public Simulator {
public:
    // The kind under which a device frame is recorded.
    static constexpr int Kind(uint8_t deviceId, uint8_t command) { return deviceId << 8 | command; }

    explicit FmuSuperSimulator(SimPort &port) : Simulator(port) {}
    ~FmuSuperSimulator() override { Stop(); }

    // The next count answers are each preceded by a NACK.
    void SetNacks(int count);
    // Answers to this device's command carry these data bytes from now on.
    void SetReplyData(uint8_t deviceId, uint8_t command, std::vector<uint8_t> data);

    // What a device (with its target selector, 0 for battery and IMU) has programmed since its last erase.
    std::vector<uint8_t> Programmed(uint8_t deviceId, uint32_t target = 0) const;
    bool PassThrough() const;
    bool Running(uint8_t deviceId, uint32_t target = 0) const;
    // What the devices refused, in order.
    std::vector<std::string> Complaints() const;

protected:
    // Inline, so the class has no key function (the bench builds without RTTI, the tests with it).
    void OnBytes(const uint8_t *bytes, size_t count) override {
        for (size_t index = 0; index < count; ++index) {
            OnByte(bytes[index]);
        }
    }

private:
    struct Device {
        std::vector<uint8_t> programmed;
        bool erased = false;
        bool running = false;
        bool haveChunk = false;
        uint8_t lastSequence = 0;
        bool headerPending = false;
        uint8_t headerLength = 0;
        uint16_t headerNumber = 0;
        uint32_t headerCrc = 0;
        uint16_t chunks = 0;
    };

    void OnByte(uint8_t byte);
    void OnDeviceData(const uint8_t *payload);
    // Checks a request against the device's rules; false (after a complaint) when it gets no answer.
    bool Handle(uint8_t deviceId, uint32_t target, uint8_t command, uint8_t sequence, const uint8_t *data,
                uint8_t length);                                             // caller holds stateLock_
    std::vector<uint8_t> ReplyData(uint8_t deviceId, uint8_t command) const; // caller holds stateLock_
    void Reply(uint32_t code, uint8_t deviceId, uint8_t sequence, uint8_t command, std::vector<uint8_t> data);
    void SendCarrier(uint32_t code, uint8_t deviceId, uint8_t sequence, uint8_t command,
                     const std::vector<uint8_t> &data, bool corrupt);
    void Complain(std::string complaint); // caller holds stateLock_

    // Simulator thread only.
    MavlinkChannels receive_{};
    MavlinkChannels transmit_{};

    mutable std::mutex stateLock_;
    // Guarded by stateLock_.
    std::map<uint32_t, Device> devices_; // by device id << 8 | target
    std::map<int, std::vector<uint8_t>> replyData_;
    std::vector<std::string> complaints_;
    bool passThrough_ = false;
    int nacks_ = 0;
};

} // namespace tarn::bench
