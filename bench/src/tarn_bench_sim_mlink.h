// What the mlink devices' simulators share: frame assembly from the tool's bytes, the reply with the base's
// faults, and the boot loader that takes a firmware upgrade (commands 0xF8 to 0xFD).
//
// A device derives from MlinkSimulator and implements ReplyTo for its own commands. Frames are recorded with
// their command byte as kind. The base's IgnoreNext and SetSilent lose the request itself (the device never
// sees it); the boot loader's LoseAcks loses only the acknowledgement of a request it carried out.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <vector>

#include "mlink.h"
#include "tarn_bench_simulator.h"

namespace tarn::bench {

// The devices' ids on their lines.
inline constexpr uint8_t kGimbalDeviceId = 0x05;
inline constexpr uint8_t kLensDeviceId = 0x09;

class MlinkBootLoader {
public:
    // The boot loader's commands, the same on every mlink device.
    static constexpr uint8_t kFlag = 0xF8;
    static constexpr uint8_t kPrepare = 0xF9;
    static constexpr uint8_t kErase = 0xFA;
    static constexpr uint8_t kProgram = 0xFB;
    static constexpr uint8_t kVerify = 0xFC;
    static constexpr uint8_t kGotoApp = 0xFD;

    // addressesTarget: every request but the flag carries a target id first, and acknowledgements echo it.
    explicit MlinkBootLoader(bool addressesTarget) : addressesTarget_(addressesTarget) {}

    static bool IsUpgradeCommand(uint8_t cmd) { return cmd >= kFlag && cmd <= kGotoApp; }
    // Carries out an upgrade command; the acknowledgement's payload, or nullopt for none.
    std::optional<std::vector<uint8_t>> Handle(const MlinkMsg &request);

    // The next count acknowledgements of cmd name another target than the request's.
    void AnswerWrongTarget(uint8_t cmd, int count);
    // The next count requests of cmd are carried out but their acknowledgements are lost.
    void LoseAcks(uint8_t cmd, int count);

    // The flag values received, in order.
    std::vector<uint8_t> Flags() const;
    // What the target's flash holds since its last erase (target 0 for a device without target ids).
    std::vector<uint8_t> Image(uint8_t target) const;
    // The CRC the last verify of this target carried, and whether it matched the flash.
    std::optional<uint32_t> VerifiedCrc(uint8_t target) const;
    // True once the target went to its application after a matching verify.
    bool Started(uint8_t target) const;

private:
    struct Target {
        bool prepared = false;
        bool erased = false;
        std::vector<uint8_t> flash;
        std::optional<uint32_t> verifiedCrc;
        bool verified = false;
        bool started = false;
        std::optional<uint8_t> lastProgramSequence;
    };

    // Refusal: a byte that is no target id, or silence where acknowledgements carry none.
    std::optional<std::vector<uint8_t>> Refuse() const;
    std::optional<std::vector<uint8_t>> Carry(uint8_t cmd, uint8_t target, const uint8_t *pData, size_t count,
                                              uint8_t sequence);

    const bool addressesTarget_;
    // Guarded by lock_: the simulator thread handles, the test thread turns knobs and reads.
    mutable std::mutex lock_;
    std::vector<uint8_t> flags_;
    std::map<uint8_t, Target> targets_;
    std::map<uint8_t, int> wrongTargets_;
    std::map<uint8_t, int> lostAcks_;
};

class MlinkSimulator : public Simulator {
public:
    MlinkSimulator(SimPort &port, uint8_t devid, bool addressesTarget)
        : Simulator(port), devid_(devid), parser_(devid), bootLoader_(addressesTarget) {}
    ~MlinkSimulator() override { Stop(); }

    MlinkBootLoader &BootLoader() { return bootLoader_; }
    // Every frame the tool sent with this command byte, as wire bytes.
    std::vector<std::vector<uint8_t>> FramesOf(uint8_t cmd) const;

protected:
    // Inline: the class has no key function, so the bench builds without RTTI and the tests with it.
    void OnBytes(const uint8_t *bytes, size_t count) override { HandleBytes(bytes, count); }
    // The device's answer to one of its own commands; nullopt: none.
    virtual std::optional<std::vector<uint8_t>> ReplyTo(const MlinkMsg &request) = 0;
    // A frame the device sends of its own accord, with its own running sequence.
    void SendUnasked(uint8_t cmd, const std::vector<uint8_t> &payload);

private:
    void HandleBytes(const uint8_t *bytes, size_t count);
    void Answer(const MlinkMsg &request, const std::vector<uint8_t> &payload);

    const uint8_t devid_;
    MlinkParser parser_;          // simulator thread only
    uint8_t unaskedSequence_ = 0; // simulator thread only
    MlinkBootLoader bootLoader_;  // has its own lock
};

} // namespace tarn::bench
