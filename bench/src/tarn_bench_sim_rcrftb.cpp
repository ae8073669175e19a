#include "tarn_bench_sim_rcrftb.h"

#include "tarn_byte_order.h"
#include "tarn_crc.h"

namespace tarn::bench {

namespace {

// Typed from the module's published frame and command tables.
constexpr uint8_t kMagic = 0xAA;
constexpr uint8_t kAck = 0x12;
constexpr uint8_t kJumpToBootloader = 0xE0;
constexpr uint8_t kAppInfo = 0x04;
constexpr uint8_t kErase = 0x07;
constexpr uint8_t kProgram = 0x08;
constexpr uint8_t kProgramLast = 0x09;
constexpr uint8_t kJumpToApp = 0x0B;
constexpr uint8_t kVersion = 0x01;

} // namespace

void RcrftbSimulator::SetVersion(uint8_t id, std::array<uint8_t, 4> data) {
    std::lock_guard<std::mutex> hold(stateLock_);
    targets_.at(id).version = data;
}

void RcrftbSimulator::SetPlainAckToVersion(uint8_t id, bool on) {
    std::lock_guard<std::mutex> hold(stateLock_);
    targets_.at(id).plainAckToVersion = on;
}

std::vector<uint8_t> RcrftbSimulator::Programmed(uint8_t id) const {
    std::lock_guard<std::mutex> hold(stateLock_);
    return targets_.at(id).programmed;
}

bool RcrftbSimulator::AppInfoMatched(uint8_t id) const {
    std::lock_guard<std::mutex> hold(stateLock_);
    return targets_.at(id).appInfoMatched;
}

bool RcrftbSimulator::Running(uint8_t id) const {
    std::lock_guard<std::mutex> hold(stateLock_);
    return targets_.at(id).running;
}

void RcrftbSimulator::OnByte(uint8_t byte) {
    if (frame_.empty() && byte != kMagic) {
        return;
    }
    frame_.push_back(byte);
    if (frame_.size() >= 5 && frame_.size() == size_t{frame_[4]} + 6) {
        OnFrame();
        frame_.clear();
    }
}

void RcrftbSimulator::OnFrame() {
    const uint8_t id = frame_[1];
    const uint8_t cmd = frame_[2];
    const uint8_t seq = frame_[3];
    const uint8_t length = frame_[4];
    const uint8_t *data = frame_.data() + 5;
    if (id < 1 || id > 5 || Crc_Crc8(frame_.data(), frame_.size() - 1) != frame_.back()) {
        return; // another module's frame, or a damaged one: the targets keep quiet
    }
    if (!RecordFrame(Kind(id, cmd), frame_.data(), frame_.size())) {
        return;
    }
    std::vector<uint8_t> reply = {kAck};
    // A plain acknowledgement is its own frame (cmd and data 0x12), not an echo of the request.
    uint8_t replyCmd = kAck;
    {
        std::lock_guard<std::mutex> hold(stateLock_);
        Target &target = targets_[id];
        switch (cmd) {
            case kJumpToBootloader:
                if (length != 1 || data[0] != kAck) {
                    return;
                }
                target.running = false;
                break;
            case kAppInfo:
                target.announcedSize = LoadLe32(data);
                target.announcedCrc = LoadLe32(data + 4);
                break;
            case kErase:
                target.programmed.clear();
                break;
            case kProgram:
            case kProgramLast:
                target.programmed.insert(target.programmed.end(), data, data + length);
                if (cmd == kProgramLast) {
                    target.appInfoMatched =
                        target.announcedSize == target.programmed.size() &&
                        target.announcedCrc == Crc_Crc8(target.programmed.data(), target.programmed.size());
                }
                break;
            case kJumpToApp:
                target.running = true;
                break;
            case kVersion:
                if (!target.plainAckToVersion) {
                    reply.assign(target.version.begin(), target.version.end());
                    replyCmd = kVersion;
                }
                break;
            default:
                break;
        }
    }
    Send(id, replyCmd, seq, reply);
}

void RcrftbSimulator::Send(uint8_t id, uint8_t cmd, uint8_t seq, const std::vector<uint8_t> &data) {
    std::vector<uint8_t> wire(data.size() + 6);
    wire[0] = kMagic;
    wire[1] = id;
    wire[2] = cmd;
    wire[3] = seq;
    wire[4] = static_cast<uint8_t>(data.size());
    for (size_t index = 0; index < data.size(); ++index) {
        wire[5 + index] = data[index];
    }
    wire.back() = Crc_Crc8(wire.data(), wire.size() - 1);
    SendFrame(wire);
}

} // namespace tarn::bench
