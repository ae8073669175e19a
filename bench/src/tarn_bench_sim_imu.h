// The IMU's bootloader: upgrade mode by flag, prepare, erase, headed and scrambled 240-byte blocks from
// 0x08008200 on, the application-information record, run. It checks every address, CRC and the descrambled
// bytes, and does not answer a request out of order (recorded in Complaints()).
#pragma once

#include <cstdint>
#include <vector>

#include "tarn_bench_sim_mav_device.h"

namespace tarn::bench {

class ImuSimulator : public MavDeviceSimulator {
public:
    explicit ImuSimulator(SimPort &port);
    ~ImuSimulator() override { Stop(); }

    // The image as programmed, from the first address to the end of the last block.
    std::vector<uint8_t> Programmed() const;
    // The application-information record as written (empty before).
    std::vector<uint8_t> AppInfo() const;
    bool Running() const;
    bool InUpgradeMode() const;

protected:
    void OnCommand(uint32_t code, const uint8_t *arguments) override { HandleCommand(code, arguments); }
    void OnData(uint32_t code, const uint8_t *data, uint8_t length) override { HandleData(code, data, length); }
    void OnFlag(uint8_t value) override { HandleFlag(value); }
    void AcknowledgeWrongly() override { SendWrongAck(); }

private:
    enum class Stage { Idle, UpgradeMode, Prepared, Erased, AppInfo, Done };
    enum class Pending { None, Block, AppInfo };

    void HandleCommand(uint32_t code, const uint8_t *arguments);
    void HandleData(uint32_t code, const uint8_t *data, uint8_t length);
    void HandleFlag(uint8_t value);
    void SendWrongAck();
    void Ack();

    // Guarded by stateLock_.
    Stage stage_ = Stage::Idle;
    Pending pending_ = Pending::None;
    uint32_t nextAddress_ = 0;
    uint32_t pendingAddress_ = 0;
    uint16_t pendingCrc_ = 0;
    std::vector<uint8_t> programmed_;
    std::vector<uint8_t> appInfo_;
    bool running_ = false;
};

} // namespace tarn::bench
