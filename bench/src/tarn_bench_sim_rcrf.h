// The remote-control side of port 0: modules answering RC/RF frames, in either of two generations.
//
// Both take, per module, request, application information, erase, program frames and the jump to the
// application, in that order, after the jump into the bootloader; each checks every frame's CRC-8, the image's
// size and CRC-8, and stores a program frame that comes again with the same sequence number once. Requests out
// of order, for a module that is not on the line, or with a bad CRC get no answer.
//   First: one module (remote control 1 or radio 2). The jump into the bootloader is a four-byte mark that no
//     module answers; an acknowledgement echoes the request's command with data 0x12; only the last program frame
//     of an image is shorter than 240 bytes, and a full one is never the last. Frames are recorded by command.
//   Second: the RC (1), radio transmitter (2), TB (3), radio receiver (4) and language pack (5). The jump is a
//     frame of its own (data 0x12) and acknowledged; an acknowledgement is a frame with command and data 0x12;
//     the last program frame may be full; a version query (command 1) is answered with four bytes at any time.
//     Frames are recorded by Kind(id, command).
//
// Knobs beyond the base's (IgnoreNext by kind loses answers, SetReplyDelay makes them late, SetSilent):
// acknowledgements the tool must skip, sent before every real one; chatter that never falls silent; a module
// that answers version queries with a plain acknowledgement.
#pragma once

#include <array>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "tarn_bench_simulator.h"

namespace tarn::bench {

class RcrfSimulator : public Simulator {
public:
    enum class Generation { First, Second };

    // Commands, and the kinds of recorded frames in the first generation.
    static constexpr int kJumpToBootloader = 0xE0;
    static constexpr int kRequest = 0x00;
    static constexpr int kVersion = 0x01;
    static constexpr int kAppInfo = 0x04;
    static constexpr int kErase = 0x07;
    static constexpr int kProgram = 0x08;
    static constexpr int kProgramLast = 0x09;
    static constexpr int kJumpToApp = 0x0B;

    // The kind of a recorded frame in the second generation.
    static constexpr int Kind(uint8_t id, int cmd) { return id << 8 | cmd; }

    // The modules firstId to lastId (within 1 to 5) are on the line.
    RcrfSimulator(SimPort &port, Generation generation, uint8_t firstId, uint8_t lastId)
        : Simulator(port), generation_(generation), firstId_(firstId), lastId_(lastId) {}
    ~RcrfSimulator() override { Stop(); }

    // Before every acknowledgement, this many the tool must skip: from another module, without data, with
    // data other than 0x12, in turn.
    void SetForeignAcks(int count);
    // On every idle turn, an acknowledgement from a module that is not the first on the line: a line that is
    // never quiet.
    void SetChatter(bool on);
    void SetVersion(uint8_t id, std::array<uint8_t, 4> data);
    void SetPlainAckToVersion(uint8_t id, bool on);

    std::vector<uint8_t> Programmed(uint8_t id) const;
    uint32_t AnnouncedSize(uint8_t id) const;
    // Jumped to an application whose size and CRC-8 matched the announced ones.
    bool Running(uint8_t id) const;
    // The modules' own reading of what they refused (CRCs, order, ids), in order.
    std::vector<std::string> Complaints() const;

protected:
    // Inline, so the class has no key function (the bench builds without RTTI, the tests with it).
    void OnBytes(const uint8_t *bytes, size_t count) override {
        for (size_t index = 0; index < count; ++index) {
            OnByte(bytes[index]);
        }
    }
    void OnIdle() override { Chatter(); }

private:
    enum class Stage { Application, Bootloader, Requested, Informed, Erased, Running };

    struct Module {
        Stage stage = Stage::Application;
        uint32_t announced = 0;
        uint8_t announcedCrc = 0;
        std::vector<uint8_t> programmed;
        bool haveLastSeq = false;
        uint8_t lastSeq = 0;
        uint8_t lastLength = 0;
        bool plainAckToVersion = false;
        std::array<uint8_t, 4> version{};
    };

    // An acknowledgement, or a version in a reply of its own command.
    struct Reply {
        uint8_t cmd;
        std::vector<uint8_t> data;
    };

    void OnByte(uint8_t byte);
    void Chatter();
    void OnFrame(const std::vector<uint8_t> &frame);
    // False when the module keeps quiet; a version query changes the reply (caller holds stateLock_).
    bool Accept(Module &module, uint8_t cmd, uint8_t seq, const uint8_t *data, uint8_t length, Reply *reply);
    bool Program(Module &module, uint8_t cmd, uint8_t seq, const uint8_t *data, uint8_t length); // holds stateLock_
    void Complain(const std::string &what);                                                      // holds stateLock_
    // The reply, after the foreign acknowledgements asked for and with the armed faults.
    void SendAck(uint8_t id, uint8_t seq, const Reply &reply);
    void SendReply(uint8_t id, uint8_t cmd, uint8_t seq, const std::vector<uint8_t> &data, bool corrupt);

    bool OnLine(int id) const { return id >= firstId_ && id <= lastId_; }
    // An acknowledgement's command: the request's in the first generation, 0x12 in the second (a version reply
    // keeps its own).
    uint8_t AckCommand(uint8_t cmd) const;
    static uint8_t OtherModule(uint8_t id) { return id == 1 ? 2 : 1; }

    const Generation generation_;
    const uint8_t firstId_;
    const uint8_t lastId_;
    std::vector<uint8_t> pending_; // simulator thread only: the frame being assembled

    mutable std::mutex stateLock_;
    // Guarded by stateLock_.
    std::array<Module, 6> modules_{}; // by id; 0 unused
    int foreignAcks_ = 0;
    bool chatter_ = false;
    std::vector<std::string> complaints_;
};

} // namespace tarn::bench
