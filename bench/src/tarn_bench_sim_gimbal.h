// The gimbal board as seen from its serial line: mlink device 0x05, driven by the command catalogue's
// tables. It keeps what every set command stores, answers each get with it (or with a per-command reply a
// test or scenario chose), answers versions and serial numbers, sends reports on request, and takes the
// base's fault knobs. Frames are recorded with their command byte as kind.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <vector>

#include "mlink.h"
#include "tarn_bench_simulator.h"

namespace tarn::bench {

class GimbalSimulator : public Simulator {
public:
    explicit GimbalSimulator(SimPort &port);
    ~GimbalSimulator() override { Stop(); }

    // The payload every later acknowledgement of cmd carries, whatever the board would answer.
    void SetReply(uint8_t cmd, std::vector<uint8_t> payload);
    void SetVersion(uint8_t cmd, uint32_t version);
    // The payload the last set command of this setting carried (empty before any).
    std::vector<uint8_t> Setting(uint8_t setCmd) const;
    // Confirmed sets (pose reset, autodyne state) are refused with byte 0 while this is on.
    void SetRefuseConfirmed(bool refuse);
    // Sent unasked, in order, as soon as the line is idle.
    void InjectReport(uint8_t cmd, std::vector<uint8_t> payload);

    // Every frame the tool sent with this command byte, as wire bytes.
    std::vector<std::vector<uint8_t>> FramesOf(uint8_t cmd) const;

protected:
    // Inline, like the base's destructor, so the class has no key function: the bench builds without RTTI
    // and the tests with it.
    void OnBytes(const uint8_t *bytes, size_t count) override { HandleBytes(bytes, count); }
    void OnIdle() override { SendReports(); }

private:
    void HandleBytes(const uint8_t *bytes, size_t count);
    void SendReports();
    std::vector<uint8_t> ReplyTo(const MlinkMsg &request);
    void Answer(const MlinkMsg &request, const std::vector<uint8_t> &payload);

    MlinkParser parser_{kMlinkDevIdXtb}; // simulator thread only
    uint8_t reportSequence_ = 0;         // simulator thread only

    mutable std::mutex stateLock_;
    // Guarded by stateLock_: the test or scenario thread sets, the simulator thread reads and stores.
    std::map<uint8_t, std::vector<uint8_t>> replies_;
    std::map<uint8_t, std::vector<uint8_t>> settings_;
    std::deque<std::pair<uint8_t, std::vector<uint8_t>>> reports_;
    bool refuseConfirmed_ = false;
};

} // namespace tarn::bench
