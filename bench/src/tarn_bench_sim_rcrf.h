// The remote-control (id 1) or radio (id 2) module: its application takes the four-byte jump into the
// bootloader, which then takes request, application information, erase, program frames and the jump to the
// application, in that order, each answered with a seven-byte acknowledgement (data 0x12). It checks every
// frame's CRC-8, the image's size and CRC-8, and stores a program frame that comes again with the same sequence
// number once. Requests out of order, for the other module, or with a bad CRC get no answer.
//
// Knobs beyond the base's (IgnoreNext by command byte loses acks, SetReplyDelay makes them late, SetSilent):
// acknowledgements the tool must skip, sent before every real one; chatter that never falls silent.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "tarn_bench_simulator.h"

namespace tarn::bench {

class RcrfSimulator : public Simulator {
public:
    // Kinds of recorded frames: the command byte, or this for the jump into the bootloader.
    static constexpr int kJumpToBootloader = 0xE0;
    static constexpr int kRequest = 0x00;
    static constexpr int kAppInfo = 0x04;
    static constexpr int kErase = 0x07;
    static constexpr int kProgram = 0x08;
    static constexpr int kProgramLast = 0x09;
    static constexpr int kJumpToApp = 0x0B;

    RcrfSimulator(SimPort &port, uint8_t moduleId) : Simulator(port), moduleId_(moduleId) {}
    ~RcrfSimulator() override { Stop(); }

    // Before every acknowledgement, this many the tool must skip: from the other module, without data, with
    // data other than 0x12, in turn.
    void SetForeignAcks(int count);
    // On every idle turn, an acknowledgement from the other module: a line that is never quiet.
    void SetChatter(bool on);

    std::vector<uint8_t> Programmed() const;
    uint32_t AnnouncedSize() const;
    bool Running() const;
    // The module's own reading of what it refused (CRCs, order, ids), in order.
    std::vector<std::string> Complaints() const;

protected:
    void OnBytes(const uint8_t *bytes, size_t count) override {
        for (size_t index = 0; index < count; ++index) {
            OnByte(bytes[index]);
        }
    }
    void OnIdle() override { Chatter(); }

private:
    enum class Stage { Application, Bootloader, Requested, Informed, Erased, Running };

    void OnByte(uint8_t byte);
    void Chatter();
    void OnFrame(const std::vector<uint8_t> &frame);
    bool Accept(uint8_t cmd, uint8_t seq, const uint8_t *data, uint8_t length); // caller holds stateLock_
    void Complain(const std::string &what);                                     // caller holds stateLock_
    void SendAck(uint8_t cmd, uint8_t seq);
    void SendReply(uint8_t id, uint8_t cmd, uint8_t seq, const std::vector<uint8_t> &data, bool corrupt);

    uint8_t OtherModule() const { return moduleId_ == 1 ? 2 : 1; }

    const uint8_t moduleId_;
    std::vector<uint8_t> pending_; // simulator thread only: the frame being assembled

    mutable std::mutex stateLock_;
    // Guarded by stateLock_.
    Stage stage_ = Stage::Application;
    uint32_t announced_ = 0;
    uint8_t announcedCrc_ = 0;
    std::vector<uint8_t> programmed_;
    bool haveLastSeq_ = false;
    uint8_t lastSeq_ = 0;
    uint8_t lastLength_ = 0;
    int foreignAcks_ = 0;
    bool chatter_ = false;
    std::vector<std::string> complaints_;
};

} // namespace tarn::bench
