#include "tarn_bench_sim_flow_battery.h"

#include <cstring>

#include "tarn_byte_order.h"
#include "tarn_crc.h"

namespace tarn::bench {

namespace {

// The bootloaders' request codes, entry codes (the bench board's) and block sizes.
constexpr uint32_t kFlowEnter = 0x0F010110;
constexpr uint32_t kFlowAppInfo = 0x0F010103;
constexpr uint32_t kFlowRequest = 0x0F010107;
constexpr uint32_t kFlowErase = 0x0F010108;
constexpr uint32_t kFlowHeader = 0x0F010111;
constexpr uint32_t kFlowData = 0x0F010109;
constexpr uint32_t kFlowLastData = 0x0F01010A;
constexpr uint32_t kFlowVerify = 0x0F01010C;
constexpr uint32_t kFlowRun = 0x0F01010D;
constexpr uint8_t kFlowEntryCode[8] = {0x4f, 0x46, 0x42, 0x4f, 0x4f, 0x54, 0x21, 0x7e};

constexpr uint32_t kBatteryEnter = 0x0F0000EC;
constexpr uint32_t kBatteryRequest = 0x0F0000D1;
constexpr uint32_t kBatteryErase = 0x0F0000D2;
constexpr uint32_t kBatteryHeader = 0x0F0000D5;
constexpr uint32_t kBatteryData = 0x0F0000D6;
constexpr uint32_t kBatteryRun = 0x0F0000D4;
constexpr uint8_t kBatteryEntryCode[4] = {0xb3, 0x5e, 0x0a, 0xd1};

constexpr uint32_t kBlockLength = 240;
constexpr uint8_t kAckLowByte = 0xFD;

bool Zero(const uint8_t *bytes, size_t count) {
    for (size_t index = 0; index < count; ++index) {
        if (bytes[index] != 0) {
            return false;
        }
    }
    return true;
}

} // namespace

FlowBatterySimulator::FlowBatterySimulator(SimPort &port, Device device)
    : MavDeviceSimulator(port, device == Device::Flow ? 2 : 3), device_(device) {}

void FlowBatterySimulator::SetShortAckCode(bool on) {
    std::lock_guard<std::mutex> hold(stateLock_);
    shortAckCode_ = on;
}

void FlowBatterySimulator::SetEntryUnanswered(bool on) {
    std::lock_guard<std::mutex> hold(stateLock_);
    entryUnanswered_ = on;
}

void FlowBatterySimulator::RefuseBlocks(int count) {
    std::lock_guard<std::mutex> hold(stateLock_);
    refuseBlocks_ = count;
}

void FlowBatterySimulator::SetVerifyMismatch(bool on) {
    std::lock_guard<std::mutex> hold(stateLock_);
    verifyMismatch_ = on;
}

std::vector<uint8_t> FlowBatterySimulator::Programmed() const {
    std::lock_guard<std::mutex> hold(stateLock_);
    return programmed_;
}

uint32_t FlowBatterySimulator::AnnouncedLength() const {
    std::lock_guard<std::mutex> hold(stateLock_);
    return announced_;
}

bool FlowBatterySimulator::Running() const {
    std::lock_guard<std::mutex> hold(stateLock_);
    return running_;
}

// Stages: 0 before the entry code, then one per accepted request; blocks keep the stage until the last one.
bool FlowBatterySimulator::CheckCommand(uint32_t code, const uint8_t *arguments) {
    if (device_ == Device::Flow) {
        switch (stage_) {
            case 0:
                return code == kFlowEnter && memcmp(arguments, kFlowEntryCode, 8) == 0;
            case 1:
                if (code != kFlowAppInfo || !Zero(arguments, 4)) {
                    return false;
                }
                announced_ = LoadLe32(arguments + 4);
                return true;
            case 2:
                return code == kFlowRequest && Zero(arguments, 8);
            case 3:
                programmed_.clear();
                return code == kFlowErase && Zero(arguments, 8);
            case 5:
                return code == kFlowVerify && !verifyMismatch_ &&
                       LoadLe32(arguments) == Crc_Crc32Words(programmed_.data(), programmed_.size(), 0);
            case 6:
                running_ = code == kFlowRun;
                return running_;
            default:
                return false;
        }
    }
    switch (stage_) {
        case 0:
            return code == kBatteryEnter && memcmp(arguments, kBatteryEntryCode, 4) == 0 && Zero(arguments + 4, 4);
        case 1:
            return code == kBatteryRequest && Zero(arguments, 8);
        case 2:
            programmed_.clear();
            return code == kBatteryErase && Zero(arguments, 8);
        case 3:
            running_ = code == kBatteryRun && !programmed_.empty();
            return running_;
        default:
            return false;
    }
}

void FlowBatterySimulator::HandleCommand(uint32_t code, const uint8_t *arguments) {
    bool answer = false;
    {
        std::lock_guard<std::mutex> hold(stateLock_);
        const bool flow = device_ == Device::Flow;
        const bool blocks = flow ? stage_ == 4 : stage_ == 3;
        if (blocks && code == (flow ? kFlowHeader : kBatteryHeader)) {
            const uint16_t length = flow ? arguments[4] : LoadLe16(arguments);
            const uint16_t offset = flow ? static_cast<uint16_t>(programmed_.size()) : LoadLe16(arguments + 2);
            if (refuseBlocks_ > 0) {
                --refuseBlocks_;
            } else if (length == 0 || length > kBlockLength || (flow && length != kBlockLength) ||
                       offset != programmed_.size()) {
                complaints_.push_back("block header out of order");
            } else {
                headerPending_ = true;
                pendingLength_ = length;
                pendingCrc_ = LoadLe16(arguments + (flow ? 0 : 4));
                answer = true;
            }
        } else if (CheckCommand(code, arguments)) {
            ++stage_;
            answer = !(stage_ == 1 && entryUnanswered_);
        } else {
            complaints_.push_back("request out of order");
        }
    }
    if (answer) {
        Ack(code);
    }
}

void FlowBatterySimulator::HandleData(uint32_t code, const uint8_t *data, uint8_t length) {
    bool answer = false;
    {
        std::lock_guard<std::mutex> hold(stateLock_);
        const bool flow = device_ == Device::Flow;
        const bool pending = headerPending_;
        headerPending_ = false;
        const bool last = flow && code == kFlowLastData;
        const bool codeFits = flow ? code == kFlowData || last : code == kBatteryData;
        const uint16_t crc =
            flow ? static_cast<uint16_t>(Crc_Crc32Words(data, length, 0)) : Crc_CcittFalse(data, length);
        if (!pending || !codeFits || length != pendingLength_) {
            complaints_.push_back("data out of order");
        } else if (crc != pendingCrc_) {
            complaints_.push_back("block CRC");
        } else {
            programmed_.insert(programmed_.end(), data, data + length);
            if (last) {
                stage_ = announced_ == programmed_.size() ? 5 : stage_;
                if (stage_ != 5) {
                    complaints_.push_back("image length differs from the announced one");
                }
            }
            answer = true;
        }
    }
    if (answer) {
        Ack(code);
    }
}

// Upgrade mode starts the device's sequence afresh.
void FlowBatterySimulator::HandleFlag(uint8_t value) {
    std::lock_guard<std::mutex> hold(stateLock_);
    if (value == 1) {
        stage_ = 0;
        headerPending_ = false;
        running_ = false;
    }
}

void FlowBatterySimulator::Ack(uint32_t code) {
    bool shortCode = false;
    {
        std::lock_guard<std::mutex> hold(stateLock_);
        shortCode = shortAckCode_;
    }
    const uint8_t arguments[8] = {};
    SendAck(shortCode ? kAckLowByte : (code & 0xFFFFFF00u) | kAckLowByte, arguments);
}

void FlowBatterySimulator::SendWrongAck() {
    const uint8_t arguments[8] = {};
    SendCommand(0x0F0101FC, arguments);
}

} // namespace tarn::bench
