// The gimbal board as seen from its serial line: mlink device 0x05, answering from its own command tables
// (command bytes, payload layouts, the partner of each setting). It keeps what every set command stores,
// answers each get with it (or with a per-command reply a test or scenario chose), answers versions and
// serial numbers, sends reports on request, takes the base's fault knobs, and flashes its parts (target ids
// 1 to 10) through the mlink boot loader. Commands outside its tables, and requests whose payload length is
// not their layout's, get no answer.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <vector>

#include "tarn_bench_sim_mlink.h"

namespace tarn::bench {

class GimbalSimulator : public MlinkSimulator {
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

protected:
    // Inline, like the base's destructor, so the class has no key function: the bench builds without RTTI
    // and the tests with it.
    void OnIdle() override { SendReports(); }
    std::optional<std::vector<uint8_t>> ReplyTo(const MlinkMsg &request) override { return Reply(request); }

private:
    void SendReports();
    std::optional<std::vector<uint8_t>> Reply(const MlinkMsg &request);

    mutable std::mutex stateLock_;
    // Guarded by stateLock_: the test or scenario thread sets, the simulator thread reads and stores.
    std::map<uint8_t, std::vector<uint8_t>> replies_;
    std::map<uint8_t, std::vector<uint8_t>> settings_;
    std::deque<std::pair<uint8_t, std::vector<uint8_t>>> reports_;
    bool refuseConfirmed_ = false;
};

} // namespace tarn::bench
