// The first-generation flight controller as seen from its serial line: an application that restarts into
// its bootloader on the MAVLink restart request, and the bootloader's byte commands (no-op fillers, get sync,
// device information, chip erase, program multiple, get CRC, reboot) over a flash image of its own.
//
// Frames are recorded with the command byte as kind (kRestartRequest for the MAVLink request). Fault knobs
// beyond the base's: a revision, a CRC that never matches, replies whose in-sync pair is wrong, an application
// that talks without pause. The base's IgnoreNext drops a reply (a lost reply), SetSilent silences the device.
#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

#include "tarn_bench_sim_mavlink.h"
#include "tarn_bench_simulator.h"
#include "tarn_mavlink.h"

namespace tarn::bench {

class FmuBootloaderSimulator : public Simulator {
public:
    // Kinds of recorded frames besides the bootloader's command bytes.
    static constexpr int kRestartRequest = 0x100;
    static constexpr int kInvalidCommand = 0x101;

    explicit FmuBootloaderSimulator(SimPort &port);
    ~FmuBootloaderSimulator() override { Stop(); }

    void SetRevision(uint32_t revision);
    // Erases the flash image to this size.
    void SetFlashSize(uint32_t flashSize);
    // The CRC answer differs from the flash's real CRC.
    void SetWrongCrc(bool wrong);
    // The next count in-sync/OK pairs are sent as these two bytes instead.
    void SetBadSync(int count, uint8_t first, uint8_t second);
    // While the application runs it sends a heartbeat on every idle turn, so the line is never silent.
    void SetApplicationChatter(bool chatter);

    bool InBootloader() const;
    // The flash as programmed (erased bytes are 0xFF).
    std::vector<uint8_t> Flash() const;
    // The bytes every program-multiple request carried, in order.
    std::vector<uint8_t> ProgrammedBytes() const;
    // No-op filler bytes received while the bootloader was idle.
    size_t FillerCount() const;
    // The CRC the bootloader computes over its flash.
    uint32_t FlashCrc() const;

protected:
    // Inline, so the class has no key function: its type information is emitted wherever it is used (the
    // bench builds without RTTI, the sanitizer tests need it).
    void OnBytes(const uint8_t *bytes, size_t count) override { HandleBytes(bytes, count); }
    void OnIdle() override { HandleIdle(); }

private:
    enum class CommandState { Idle, Parameter, Length, Data, End };

    void HandleBytes(const uint8_t *bytes, size_t count);
    void HandleIdle();
    void OnApplicationByte(uint8_t byte);
    void OnBootloaderByte(uint8_t byte);
    void Execute();
    void Reply(std::vector<uint8_t> data, bool withSync);
    void Invalid();

    // Simulator thread only.
    SimMavlink mavlink_;
    CommandState commandState_ = CommandState::Idle;
    std::vector<uint8_t> command_;
    size_t dataLength_ = 0;

    mutable std::mutex stateLock_;
    // Guarded by stateLock_: the simulator thread runs the device, the test thread sets knobs and looks.
    bool inBootloader_ = false;
    uint32_t revision_ = 4;
    std::vector<uint8_t> flash_;
    size_t programOffset_ = 0;
    std::vector<uint8_t> programmed_;
    size_t fillers_ = 0;
    bool wrongCrc_ = false;
    int badSyncCount_ = 0;
    uint8_t badSync_[2] = {0, 0};
    bool chatter_ = false;
};

} // namespace tarn::bench
