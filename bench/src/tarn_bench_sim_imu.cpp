#include "tarn_bench_sim_imu.h"

#include <cstring>

#include "tarn_byte_order.h"
#include "tarn_crc.h"

namespace tarn::bench {

namespace {

// The IMU bootloader's side of the protocol.
constexpr uint8_t kDeviceId = 1;
constexpr uint32_t kRequestCode = 0x485;
constexpr uint32_t kDataCode = 0x385;
constexpr uint32_t kAckCode = 0x505;
constexpr uint8_t kAckMark = 0x0F;
constexpr uint8_t kPrepare = 0x11;
constexpr uint8_t kErase = 0x08;
constexpr uint8_t kRun = 0x0A;
constexpr uint8_t kBlockHeader = 0x09;
constexpr uint8_t kAppInfoHeader = 0x04;
constexpr uint32_t kFirstAddress = 0x08008200;
constexpr uint8_t kBlockLength = 240;
constexpr uint8_t kAppInfoLength = 184;
// The key this bootloader descrambles with (the bench board's).
constexpr uint8_t kKey[8] = {0x5a, 0xc3, 0x17, 0x8e, 0x29, 0xf4, 0x60, 0xbd};

bool AllBytes(const uint8_t *arguments, uint8_t value) {
    for (int index = 0; index < 8; ++index) {
        if (arguments[index] != value) {
            return false;
        }
    }
    return true;
}

// On the wire each group of 8 is the odd positions then the even ones, each XORed with the key.
void Descramble(const uint8_t *wire, uint8_t *plain, size_t length) {
    for (size_t group = 0; group < length; group += 8) {
        for (size_t index = 0; index < 4; ++index) {
            plain[group + 2 * index + 1] = wire[group + index] ^ kKey[2 * index + 1];
            plain[group + 2 * index] = wire[group + 4 + index] ^ kKey[2 * index];
        }
    }
}

} // namespace

ImuSimulator::ImuSimulator(SimPort &port) : MavDeviceSimulator(port, kDeviceId) {}

std::vector<uint8_t> ImuSimulator::Programmed() const {
    std::lock_guard<std::mutex> hold(stateLock_);
    return programmed_;
}

std::vector<uint8_t> ImuSimulator::AppInfo() const {
    std::lock_guard<std::mutex> hold(stateLock_);
    return appInfo_;
}

bool ImuSimulator::Running() const {
    std::lock_guard<std::mutex> hold(stateLock_);
    return running_;
}

bool ImuSimulator::InUpgradeMode() const {
    std::lock_guard<std::mutex> hold(stateLock_);
    return stage_ != Stage::Idle;
}

void ImuSimulator::HandleFlag(uint8_t value) {
    std::lock_guard<std::mutex> hold(stateLock_);
    if (value == 1) {
        stage_ = Stage::UpgradeMode;
        running_ = false;
    } else {
        stage_ = Stage::Idle;
    }
    pending_ = Pending::None;
}

void ImuSimulator::HandleCommand(uint32_t code, const uint8_t *arguments) {
    bool answer = false;
    {
        std::lock_guard<std::mutex> hold(stateLock_);
        if (code != kRequestCode) {
            complaints_.push_back("unknown request code");
            return;
        }
        if (AllBytes(arguments, kPrepare) && stage_ == Stage::UpgradeMode) {
            stage_ = Stage::Prepared;
            answer = true;
        } else if (AllBytes(arguments, kErase) && stage_ == Stage::Prepared) {
            stage_ = Stage::Erased;
            nextAddress_ = kFirstAddress;
            programmed_.clear();
            answer = true;
        } else if (arguments[0] == kBlockHeader && stage_ == Stage::Erased) {
            const uint32_t address = LoadLe32(arguments + 1);
            if (address != nextAddress_ || arguments[5] != kBlockLength - 1) {
                complaints_.push_back("block header out of order");
            } else {
                pending_ = Pending::Block;
                pendingAddress_ = address;
                pendingCrc_ = LoadLe16(arguments + 6);
                answer = true;
            }
        } else if (arguments[0] == kAppInfoHeader && arguments[5] == kAppInfoLength - 1 && stage_ == Stage::Erased &&
                   !programmed_.empty()) {
            pending_ = Pending::AppInfo;
            answer = true;
        } else if (AllBytes(arguments, kRun) && stage_ == Stage::AppInfo) {
            stage_ = Stage::Done;
            running_ = true;
            answer = true;
        } else {
            complaints_.push_back("request out of order");
        }
    }
    if (answer) {
        Ack();
    }
}

void ImuSimulator::HandleData(uint32_t code, const uint8_t *data, uint8_t length) {
    bool answer = false;
    {
        std::lock_guard<std::mutex> hold(stateLock_);
        const Pending pending = pending_;
        pending_ = Pending::None;
        if (code != kDataCode || pending == Pending::None) {
            complaints_.push_back("data out of order");
        } else if (pending == Pending::Block) {
            uint8_t plain[kBlockLength];
            uint8_t prefix[4];
            StoreLe32(prefix, pendingAddress_);
            if (length != kBlockLength) {
                complaints_.push_back("block length");
            } else {
                Descramble(data, plain, kBlockLength);
                if (Crc_Modbus(plain, kBlockLength, Crc_Modbus(prefix, 4)) != pendingCrc_) {
                    complaints_.push_back("block CRC");
                } else {
                    programmed_.insert(programmed_.end(), plain, plain + kBlockLength);
                    nextAddress_ += kBlockLength;
                    answer = true;
                }
            }
        } else {
            if (length != kAppInfoLength || Crc_Crc32Words(data, 180, 0) != LoadLe32(data + 180)) {
                complaints_.push_back("app info CRC");
            } else {
                appInfo_.assign(data, data + length);
                stage_ = Stage::AppInfo;
                answer = true;
            }
        }
    }
    if (answer) {
        Ack();
    }
}

void ImuSimulator::Ack() {
    uint8_t arguments[8] = {};
    arguments[7] = kAckMark;
    SendAck(kAckCode, arguments);
}

void ImuSimulator::SendWrongAck() {
    uint8_t arguments[8] = {};
    arguments[7] = kAckMark - 1;
    SendCommand(kAckCode, arguments);
}

} // namespace tarn::bench
