// The camera lens as seen from its serial line: mlink device 0x09. It moves its drives to the positions it is
// sent (most significant byte first) and reports them back (least significant byte first), answers its
// reference-sensor and init states and its two versions, keeps a 64 KiB parameter flash, and takes a firmware
// upgrade through the mlink boot loader (no target ids).
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "tarn_bench_sim_mlink.h"

namespace tarn::bench {

class LensSimulator : public MlinkSimulator {
public:
    explicit LensSimulator(SimPort &port);
    ~LensSimulator() override { Stop(); }

    // The position a get command (0x83 focus, 0x84 zoom, 0x85 iris, 0x86 shutter) reports.
    int16_t Position(uint8_t getCmd) const;
    void SetPosition(uint8_t getCmd, int16_t position);
    // Reference-sensor states (0x81 focus, 0x82 zoom) and the init state (0x88).
    void SetState(uint8_t getCmd, uint8_t state);
    // The payload of a version reply (0x60 software, 0x61 hardware), sent as it is.
    void SetVersion(uint8_t cmd, const std::string &text);
    uint8_t FlashByte(uint16_t address) const;
    void SetFlashByte(uint16_t address, uint8_t value);

protected:
    std::optional<std::vector<uint8_t>> ReplyTo(const MlinkMsg &request) override { return Reply(request); }

private:
    std::optional<std::vector<uint8_t>> Reply(const MlinkMsg &request);

    // Guarded by stateLock_: the test or scenario thread sets and reads, the simulator thread serves.
    mutable std::mutex stateLock_;
    std::map<uint8_t, int16_t> positions_;
    std::map<uint8_t, uint8_t> states_;
    std::map<uint8_t, std::string> versions_;
    std::vector<uint8_t> flash_;
};

} // namespace tarn::bench
