// The second-generation flight controller itself: restarts by COMMAND_LONG, heartbeat chatter, and the
// bootloader's packet protocol.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <thread>
#include <unistd.h>

#include "tarn_bench_sim_fmu_super.h"
#include "tarn_byte_order.h"
#include "tarn_crc.h"

namespace tarn::bench {

namespace {

// Typed from the flight controller's published tables.
constexpr size_t kCommandAt = 28; // COMMAND_LONG: seven float params, then the command (little-endian)
constexpr uint16_t kRestartCommand = 0;
constexpr float kRestartParam1 = 2.0f;
constexpr uint16_t kApplicationCommand = 246;
constexpr float kApplicationParam1 = 1.0f;

constexpr uint8_t kStart = 0x02;
constexpr size_t kHeader = 7;
constexpr uint16_t kLongestData = 2064;
constexpr uint16_t kHandshake = 0x0000;
constexpr uint16_t kErase = 0x0110;
constexpr uint16_t kProgram = 0x0310;
constexpr uint16_t kFinish = 0x0400;
constexpr uint16_t kAnswerBit = 0x0001; // an answer's command is the request's plus one

// Error codes of this bootloader's answers.
constexpr uint16_t kRefused = 0x0001;
constexpr uint16_t kNotErased = 0x0002;
constexpr uint16_t kBadFragment = 0x0003;
constexpr uint16_t kBadImage = 0x0004;

// The upgrade file's header: identity, image length (big-endian), file type 1.
constexpr char kIdentity[] = "OrvoxPelicarnSmartSystem";
constexpr size_t kFileHeader = 256;

float Param(const uint8_t *payload, int index) {
    const uint32_t bits = LoadLe32(payload + 4 * index);
    float value = 0;
    memcpy(&value, &bits, sizeof value);
    return value;
}

std::vector<uint8_t> Packet(uint16_t command, const std::vector<uint8_t> &data) {
    std::vector<uint8_t> packet(kHeader);
    packet[0] = kStart;
    StoreBe16(&packet[1], command);
    StoreBe16(&packet[3], static_cast<uint16_t>(data.size()));
    StoreBe16(&packet[5], Crc_Xmodem(&packet[1], 4));
    if (!data.empty()) {
        packet.insert(packet.end(), data.begin(), data.end());
        packet.resize(packet.size() + 2);
        StoreBe16(&packet[packet.size() - 2], Crc_Xmodem(data.data(), data.size()));
    }
    return packet;
}

std::vector<uint8_t> ErrorCode(uint16_t code, size_t length) {
    std::vector<uint8_t> data(length, 0);
    StoreBe16(data.data(), code);
    return data;
}

} // namespace

void FmuSuperSimulator::SetFragmentLengths(std::vector<uint16_t> lengths) {
    std::lock_guard<std::mutex> hold(stateLock_);
    if (!lengths.empty()) {
        fragmentLengths_ = std::move(lengths);
    }
}

void FmuSuperSimulator::SetEraseTime(std::chrono::milliseconds time) {
    std::lock_guard<std::mutex> hold(stateLock_);
    eraseTime_ = time;
}

void FmuSuperSimulator::ArmAnswerFault(uint16_t command, AnswerFault fault, int count) {
    std::lock_guard<std::mutex> hold(stateLock_);
    answerFaults_[command].emplace_back(fault, count);
}

void FmuSuperSimulator::SetApplicationChatter(bool chatter) {
    std::lock_guard<std::mutex> hold(stateLock_);
    chatter_ = chatter;
}

void FmuSuperSimulator::SetImagePath(std::string path) {
    std::lock_guard<std::mutex> hold(stateLock_);
    imagePath_ = std::move(path);
}

bool FmuSuperSimulator::InBootloader() const {
    std::lock_guard<std::mutex> hold(stateLock_);
    return inBootloader_;
}

std::vector<uint8_t> FmuSuperSimulator::Image() const {
    std::lock_guard<std::mutex> hold(stateLock_);
    return image_;
}

int FmuSuperSimulator::GoodFinishes() const {
    std::lock_guard<std::mutex> hold(stateLock_);
    return goodFinishes_;
}

int FmuSuperSimulator::SetKnob(const std::string &name, const std::string &value) {
    if (name == "image") {
        SetImagePath(value);
        return value.empty() ? -1 : 0;
    }
    char *end = nullptr;
    const unsigned long number = strtoul(value.c_str(), &end, 0);
    if (value.empty() || *end != '\0' || number > UINT32_MAX) {
        return -1;
    }
    if (name == "fraglen" && number <= UINT16_MAX) {
        SetFragmentLengths({static_cast<uint16_t>(number)});
    } else if (name == "erase-ms") {
        SetEraseTime(std::chrono::milliseconds(number));
    } else if (name == "chatter") {
        SetApplicationChatter(number != 0);
    } else if (name == "line-rate") {
        SetLineRate(static_cast<uint32_t>(number));
    } else if (name == "silent") {
        SetSilent(number != 0);
    } else if (name == "refuse") {
        ArmAnswerFault(kProgram, AnswerFault::ErrorCode, static_cast<int>(number));
    } else {
        return -1;
    }
    return 0;
}

void FmuSuperSimulator::OnCommandLong(const MavlinkMessage &message) {
    const uint16_t command = LoadLe16(message.payload + kCommandAt);
    const float param1 = Param(message.payload, 0);
    const float param2 = Param(message.payload, 1);
    int kind = 0;
    if (command == kRestartCommand && param1 == kRestartParam1) {
        kind = kToBootloader;
    } else if (command == kApplicationCommand && param1 == kApplicationParam1 && param2 == kApplicationParam1) {
        kind = kToApplication;
    } else {
        return;
    }
    std::vector<uint8_t> wire(kMavlinkMaxFrameLength);
    wire.resize(Mavlink_MsgToSendBuffer(wire.data(), &message));
    if (!RecordFrame(kind, wire.data(), wire.size())) {
        return;
    }
    std::lock_guard<std::mutex> hold(stateLock_);
    inBootloader_ = kind == kToBootloader;
    passThrough_ = false;
    erased_ = false;
    bootInput_.clear();
}

// Packets are found by their start byte and header CRC; anything else on the line (a MAVLink frame among
// them) is skipped a byte at a time.
void FmuSuperSimulator::OnBootByte(uint8_t byte) {
    bootInput_.push_back(byte);
    while (!bootInput_.empty()) {
        if (bootInput_[0] != kStart) {
            bootInput_.erase(bootInput_.begin());
            continue;
        }
        if (bootInput_.size() < kHeader) {
            return;
        }
        const uint16_t command = LoadBe16(&bootInput_[1]);
        const uint16_t length = LoadBe16(&bootInput_[3]);
        if (length > kLongestData || Crc_Xmodem(&bootInput_[1], 4) != LoadBe16(&bootInput_[5])) {
            bootInput_.erase(bootInput_.begin());
            continue;
        }
        const size_t total = length == 0 ? kHeader : kHeader + length + 2u;
        if (bootInput_.size() < total) {
            return;
        }
        std::vector<uint8_t> packet(bootInput_.begin(), bootInput_.begin() + static_cast<long>(total));
        bootInput_.erase(bootInput_.begin(), bootInput_.begin() + static_cast<long>(total));
        if (length != 0 && Crc_Xmodem(&packet[kHeader], length) != LoadBe16(&packet[kHeader + length])) {
            std::lock_guard<std::mutex> hold(stateLock_);
            Complain("bootloader packet with a wrong data CRC, command " + std::to_string(command));
            continue;
        }
        if (RecordFrame(BootKind(command), packet.data(), packet.size())) {
            OnBootPacket(command, packet.data() + kHeader, length);
        }
    }
}

void FmuSuperSimulator::OnBootPacket(uint16_t command, const uint8_t *data, uint16_t length) {
    std::unique_lock<std::mutex> hold(stateLock_);
    std::vector<uint8_t> answer;
    std::chrono::milliseconds busy{0};
    switch (command) {
        case kHandshake:
            break;
        case kErase:
            if (length != 4) {
                Complain("erase request of wrong length");
                return;
            }
            announcedSize_ = LoadBe32(data);
            erased_ = true;
            nextFragment_ = 0;
            image_.clear();
            eraseFragmentLength_ = fragmentLengths_.front();
            if (fragmentLengths_.size() > 1) {
                fragmentLengths_.erase(fragmentLengths_.begin());
            }
            busy = eraseTime_;
            answer = ErrorCode(0, 8);
            StoreBe16(&answer[3], eraseFragmentLength_);
            break;
        case kProgram: {
            answer = ErrorCode(0, 4);
            const uint32_t index = length >= 2 ? LoadBe16(data) : 0;
            const size_t chunk = length >= 2 ? length - 2u : 0;
            const size_t offset = size_t{index} * eraseFragmentLength_;
            if (!erased_) {
                StoreBe16(answer.data(), kNotErased);
            } else if (length < 2 || chunk > eraseFragmentLength_ || offset + chunk > announcedSize_ ||
                       (index != nextFragment_ && index + 1 != nextFragment_)) {
                Complain("fragment " + std::to_string(index) + " does not fit");
                StoreBe16(answer.data(), kBadFragment);
            } else {
                // A resend of the last fragment (its answer was lost) overwrites it.
                image_.resize(std::max(image_.size(), offset + chunk));
                memcpy(&image_[offset], data + 2, chunk);
                nextFragment_ = index + 1;
            }
            break;
        }
        case kFinish: {
            const uint16_t verdict = CheckImage();
            if (verdict != 0) {
                Complain("image refused at finish");
                answer = ErrorCode(verdict, 2);
                break;
            }
            ++goodFinishes_;
            if (!imagePath_.empty()) {
                const int file = open(imagePath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
                const bool written =
                    file >= 0 && write(file, image_.data(), image_.size()) == static_cast<ssize_t>(image_.size());
                if (file >= 0) {
                    close(file);
                }
                if (!written) {
                    Complain("image file not written: " + imagePath_);
                }
            }
            break;
        }
        default:
            Complain("unknown bootloader command " + std::to_string(command));
            return;
    }
    hold.unlock();
    if (busy.count() > 0) {
        std::this_thread::sleep_for(busy);
    }
    SendFrame(BootAnswer(command, static_cast<uint16_t>(command + kAnswerBit), std::move(answer)));
}

uint16_t FmuSuperSimulator::CheckImage() const {
    const size_t identityLength = sizeof(kIdentity) - 1;
    if (!erased_ || image_.size() != announcedSize_ || image_.size() < kFileHeader) {
        return kBadImage;
    }
    const uint32_t imageLength = LoadBe32(&image_[24]);
    const size_t body = image_.size() - kFileHeader;
    if (memcmp(image_.data(), kIdentity, identityLength) != 0 || imageLength > body || imageLength + 15 < body ||
        LoadBe16(&image_[28]) != 1) {
        return kBadImage;
    }
    return 0;
}

std::vector<uint8_t> FmuSuperSimulator::BootAnswer(uint16_t request, uint16_t command, std::vector<uint8_t> data) {
    std::vector<AnswerFault> faults;
    {
        std::lock_guard<std::mutex> hold(stateLock_);
        for (auto &[fault, count] : answerFaults_[request]) {
            if (count > 0) {
                --count;
                faults.push_back(fault);
            }
        }
    }
    bool corruptHeader = TakeFault(Fault::CorruptChecksum);
    bool corruptData = false;
    for (const AnswerFault fault : faults) {
        switch (fault) {
            case AnswerFault::WrongCommand:
                command = static_cast<uint16_t>(command ^ 0x0100);
                break;
            case AnswerFault::WrongLength:
                data.push_back(0);
                break;
            case AnswerFault::ErrorCode:
                data.resize(std::max<size_t>(data.size(), 2));
                StoreBe16(data.data(), kRefused);
                break;
            case AnswerFault::WrongHeaderCrc:
                corruptHeader = true;
                break;
            case AnswerFault::WrongDataCrc:
                corruptData = true;
                break;
            case AnswerFault::WrongStart:
                break;
        }
    }
    std::vector<uint8_t> packet = Packet(command, data);
    for (const AnswerFault fault : faults) {
        packet[0] = fault == AnswerFault::WrongStart ? 0x03 : packet[0];
    }
    if (corruptHeader) {
        packet[6] ^= 0xFF;
    }
    if (corruptData && !data.empty()) {
        packet.back() ^= 0xFF;
    }
    return packet;
}

void FmuSuperSimulator::Chatter() {
    {
        std::lock_guard<std::mutex> hold(stateLock_);
        if (!chatter_ || inBootloader_) {
            return;
        }
    }
    MavlinkMessage heartbeat{};
    heartbeat.messageId = 0;
    Mavlink_FinalizeMessage(&heartbeat_, &heartbeat, 1, 1, 0, 9, Mavlink_GetCrcExtra(0));
    std::vector<uint8_t> wire(kMavlinkMaxFrameLength);
    wire.resize(Mavlink_MsgToSendBuffer(wire.data(), &heartbeat));
    Port().Write(wire);
}

} // namespace tarn::bench
