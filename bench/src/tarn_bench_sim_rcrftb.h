// The remote-control side of port 0: the RC (id 1), radio transmitter (2), TB (3), radio receiver (4) and
// language pack (5) answering RC/RF frames. Each checks the frame CRC-8, acknowledges with 0x12, keeps what
// was programmed after an erase (acknowledgements are frames with cmd 0x12 and data 0x12), checks the application
// information against it and answers version queries with a cmd 1 frame of four bytes.
//
// Knobs beyond the base's (IgnoreNext by kind loses answers, SetSilent, SetReplyDelay): a target that answers
// version queries with a plain acknowledgement.
#pragma once

#include <array>
#include <cstdint>
#include <mutex>
#include <vector>

#include "tarn_bench_simulator.h"

namespace tarn::bench {

class RcrftbSimulator : public Simulator {
public:
    static constexpr int Kind(uint8_t id, uint8_t cmd) { return id << 8 | cmd; }

    explicit RcrftbSimulator(SimPort &port) : Simulator(port) {}
    ~RcrftbSimulator() override { Stop(); }

    void SetVersion(uint8_t id, std::array<uint8_t, 4> data);
    void SetPlainAckToVersion(uint8_t id, bool on);

    std::vector<uint8_t> Programmed(uint8_t id) const;
    bool AppInfoMatched(uint8_t id) const;
    bool Running(uint8_t id) const;

protected:
    // Inline, so the class has no key function (the bench builds without RTTI, the tests with it).
    void OnBytes(const uint8_t *bytes, size_t count) override {
        for (size_t index = 0; index < count; ++index) {
            OnByte(bytes[index]);
        }
    }

private:
    struct Target {
        std::vector<uint8_t> programmed;
        uint32_t announcedSize = 0;
        uint32_t announcedCrc = 0;
        bool appInfoMatched = false;
        bool running = false;
        bool plainAckToVersion = false;
        std::array<uint8_t, 4> version{};
    };

    void OnByte(uint8_t byte);
    void OnFrame();
    void Send(uint8_t id, uint8_t cmd, uint8_t seq, const std::vector<uint8_t> &data);

    // Simulator thread only.
    std::vector<uint8_t> frame_;

    mutable std::mutex stateLock_;
    std::array<Target, 6> targets_{}; // guarded by stateLock_; index 0 unused
};

} // namespace tarn::bench
