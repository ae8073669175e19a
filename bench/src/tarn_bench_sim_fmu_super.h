// The second-generation flight controller on port 0: its application, which restarts into the bootloader on
// MAVLink COMMAND_LONG 0 (param1 2) and may chatter heartbeats; its bootloader, whose packets (0x02, command,
// length, header CRC, data, data CRC; big-endian, CRC-16/XMODEM) handshake, erase for an announced size and
// name the fragment length, take numbered fragments and, at finish, check the file's header and keep the image
// (in memory and, with SetImagePath, in a file); COMMAND_LONG 246 starts the application again. Bootloader
// requests are recorded as BootKind(command), the restarts as kToBootloader and kToApplication.
//
// Behind the application's pass-through flag, the devices it serves:
// battery (3), IMU (1), optical flow and sonar (2), speed controllers (4 + index). Requests are 0x55AA frames
// in DEVICE_DATA; answers go back in message 200 with the 254-byte carrier. Each device checks its command
// words, entry code, CRC, chunk headers and sequences, keeps what was programmed, and answers queries.
//
// Knobs beyond the base's (IgnoreNext by kind loses answers, SetReplyDelay makes them late, SetSilent,
// Arm(WrongDeviceId / CorruptChecksum / WrongSequence) sends a faulty copy first, then the real answer):
// NACKs before answers, reply data of a command replaced. Bootloader knobs: fragment length and erase time of
// the erase answer, faults of the next answers to one command (wrong command, length, start byte, header or
// data CRC, a non-zero error code).
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "tarn_bench_simulator.h"
#include "tarn_mavlink.h"

namespace tarn::bench {

class FmuSuperSimulator : public Simulator {
public:
    // The kind under which a device frame is recorded.
    static constexpr int Kind(uint8_t deviceId, uint8_t command) { return deviceId << 8 | command; }

    static constexpr int BootKind(uint16_t command) { return 0x10000 | command; }
    static constexpr int kToBootloader = 0x20000;
    static constexpr int kToApplication = 0x20001;

    enum class AnswerFault { WrongCommand, WrongLength, WrongStart, WrongHeaderCrc, WrongDataCrc, ErrorCode };

    explicit FmuSuperSimulator(SimPort &port) : Simulator(port) {}
    ~FmuSuperSimulator() override { Stop(); }

    // Erase answers name these fragment lengths in turn, the last one from then on (2048 unless set); they
    // come after the erase time (none unless set).
    void SetFragmentLengths(std::vector<uint16_t> lengths);
    void SetEraseTime(std::chrono::milliseconds time);
    // The next count answers to this bootloader command carry the fault.
    void ArmAnswerFault(uint16_t command, AnswerFault fault, int count = 1);
    // While the application runs it sends a heartbeat on every idle turn, so the line is never silent.
    void SetApplicationChatter(bool chatter);
    // A finish that passes the header check writes the image here too.
    void SetImagePath(std::string path);

    bool InBootloader() const;
    // What the bootloader holds since its last erase, by fragment index and fragment length.
    std::vector<uint8_t> Image() const;
    // Finishes whose image passed the check.
    int GoodFinishes() const;

    int SetKnob(const std::string &name, const std::string &value) override;

    // The next count answers are each preceded by a NACK.
    void SetNacks(int count);
    // Answers to this device's command carry these data bytes from now on.
    void SetReplyData(uint8_t deviceId, uint8_t command, std::vector<uint8_t> data);

    // What a device (with its target selector, 0 for battery and IMU) has programmed since its last erase.
    std::vector<uint8_t> Programmed(uint8_t deviceId, uint32_t target = 0) const;
    bool PassThrough() const;
    bool Running(uint8_t deviceId, uint32_t target = 0) const;
    // What the devices refused, in order.
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
    struct Device {
        std::vector<uint8_t> programmed;
        bool erased = false;
        bool running = false;
        bool haveChunk = false;
        uint8_t lastSequence = 0;
        bool headerPending = false;
        uint8_t headerLength = 0;
        uint16_t headerNumber = 0;
        uint32_t headerCrc = 0;
        uint16_t chunks = 0;
    };

    void OnByte(uint8_t byte);
    void OnCommandLong(const MavlinkMessage &message);
    void OnBootByte(uint8_t byte);
    void OnBootPacket(uint16_t command, const uint8_t *data, uint16_t length);
    // The answer to a bootloader request, as the wire carries it, with the faults armed for that request.
    std::vector<uint8_t> BootAnswer(uint16_t request, uint16_t command, std::vector<uint8_t> data);
    uint16_t CheckImage() const; // caller holds stateLock_; 0 when the header and size are right
    void Chatter();
    void OnDeviceData(const uint8_t *payload);
    // Checks a request against the device's rules; false (after a complaint) when it gets no answer.
    bool Handle(uint8_t deviceId, uint32_t target, uint8_t command, uint8_t sequence, const uint8_t *data,
                uint8_t length);                                             // caller holds stateLock_
    std::vector<uint8_t> ReplyData(uint8_t deviceId, uint8_t command) const; // caller holds stateLock_
    void Reply(uint32_t code, uint8_t deviceId, uint8_t sequence, uint8_t command, std::vector<uint8_t> data);
    void SendCarrier(uint32_t code, uint8_t deviceId, uint8_t sequence, uint8_t command,
                     const std::vector<uint8_t> &data, bool corrupt);
    void Complain(std::string complaint); // caller holds stateLock_

    // Simulator thread only.
    MavlinkChannels receive_{};
    MavlinkChannels transmit_{};
    MavlinkChannels heartbeat_{};
    std::vector<uint8_t> bootInput_;

    mutable std::mutex stateLock_;
    // Guarded by stateLock_.
    std::map<uint32_t, Device> devices_; // by device id << 8 | target
    std::map<int, std::vector<uint8_t>> replyData_;
    std::vector<std::string> complaints_;
    bool passThrough_ = false;
    int nacks_ = 0;
    bool inBootloader_ = false;
    bool chatter_ = false;
    std::vector<uint16_t> fragmentLengths_ = {2048};
    std::chrono::milliseconds eraseTime_{0};
    std::map<uint16_t, std::vector<std::pair<AnswerFault, int>>> answerFaults_;
    std::string imagePath_;
    bool erased_ = false;
    uint32_t announcedSize_ = 0;
    uint16_t eraseFragmentLength_ = 0; // the length the last erase answer named
    uint32_t nextFragment_ = 0;
    std::vector<uint8_t> image_;
    int goodFinishes_ = 0;
};

} // namespace tarn::bench
