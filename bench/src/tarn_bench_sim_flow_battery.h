// The optical-flow and battery bootloaders: both answer with DEVICE_COMMAND codes ending in 0xFD and take
// plain blocks behind a header. Optical flow: entry code, image length, request, erase, 240-byte blocks with a
// CRC-32 (low 16 bits) each, a verify CRC over the whole image, run. Battery: entry code, request, erase,
// blocks of at most 240 bytes with length, offset and CRC-16, run. Requests out of order get no answer.
#pragma once

#include <cstdint>
#include <vector>

#include "tarn_bench_sim_mav_device.h"

namespace tarn::bench {

class FlowBatterySimulator : public MavDeviceSimulator {
public:
    enum class Device { Flow, Battery };

    FlowBatterySimulator(SimPort &port, Device device);
    ~FlowBatterySimulator() override { Stop(); }

    // Acknowledgements carry the code 0x000000FD rather than the request's high bytes with 0xFD.
    void SetShortAckCode(bool on);
    // The entry request gets no answer.
    void SetEntryUnanswered(bool on);
    // The next count block headers are refused (no answer).
    void RefuseBlocks(int count);
    // The verify request is answered as a mismatch (no acknowledgement).
    void SetVerifyMismatch(bool on);

    std::vector<uint8_t> Programmed() const;
    uint32_t AnnouncedLength() const;
    bool Running() const;

protected:
    void OnCommand(uint32_t code, const uint8_t *arguments) override { HandleCommand(code, arguments); }
    void OnData(uint32_t code, const uint8_t *data, uint8_t length) override { HandleData(code, data, length); }
    void OnFlag(uint8_t value) override { HandleFlag(value); }
    void AcknowledgeWrongly() override { SendWrongAck(); }

private:
    void HandleCommand(uint32_t code, const uint8_t *arguments);
    void HandleData(uint32_t code, const uint8_t *data, uint8_t length);
    void HandleFlag(uint8_t value);
    void SendWrongAck();
    void Ack(uint32_t code);
    bool CheckCommand(uint32_t code, const uint8_t *arguments); // caller holds stateLock_

    const Device device_;
    // Guarded by stateLock_.
    int stage_ = 0; // requests accepted so far, in the device's order
    bool headerPending_ = false;
    uint16_t pendingLength_ = 0;
    uint16_t pendingCrc_ = 0;
    uint32_t announced_ = 0;
    std::vector<uint8_t> programmed_;
    bool running_ = false;
    bool shortAckCode_ = false;
    bool entryUnanswered_ = false;
    int refuseBlocks_ = 0;
    bool verifyMismatch_ = false;
};

} // namespace tarn::bench
