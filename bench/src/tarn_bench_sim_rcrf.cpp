#include "tarn_bench_sim_rcrf.h"

#include <algorithm>
#include <cstring>

#include "tarn_byte_order.h"
#include "tarn_crc.h"

namespace tarn::bench {

namespace {

// The module's wire table.
constexpr uint8_t kStart = 0xAA;
constexpr uint8_t kJumpMark = 0xE0;
constexpr size_t kJumpLength = 4;
constexpr size_t kHeaderLength = 5;
constexpr uint8_t kAckData = 0x12;
constexpr uint8_t kBlockLength = 240;
constexpr uint8_t kAppInfoLength = 8;

} // namespace

void RcrfSimulator::SetForeignAcks(int count) {
    std::lock_guard<std::mutex> hold(stateLock_);
    foreignAcks_ = count;
}

void RcrfSimulator::SetChatter(bool on) {
    std::lock_guard<std::mutex> hold(stateLock_);
    chatter_ = on;
}

void RcrfSimulator::Chatter() {
    bool on;
    {
        std::lock_guard<std::mutex> hold(stateLock_);
        on = chatter_;
    }
    if (on) {
        SendReply(OtherModule(), kRequest, 0, {kAckData}, false);
    }
}

std::vector<uint8_t> RcrfSimulator::Programmed() const {
    std::lock_guard<std::mutex> hold(stateLock_);
    return programmed_;
}

uint32_t RcrfSimulator::AnnouncedSize() const {
    std::lock_guard<std::mutex> hold(stateLock_);
    return announced_;
}

bool RcrfSimulator::Running() const {
    std::lock_guard<std::mutex> hold(stateLock_);
    return stage_ == Stage::Running;
}

std::vector<std::string> RcrfSimulator::Complaints() const {
    std::lock_guard<std::mutex> hold(stateLock_);
    return complaints_;
}

void RcrfSimulator::Complain(const std::string &what) {
    complaints_.push_back(what);
}

void RcrfSimulator::OnByte(uint8_t byte) {
    if (pending_.empty() && byte != kStart) {
        return;
    }
    pending_.push_back(byte);
    const bool jump = pending_.size() >= 2 && pending_[1] == kJumpMark;
    const size_t wanted = jump ? kJumpLength : pending_.size() < kHeaderLength ? 0 : kHeaderLength + pending_[4] + 1;
    if (wanted != 0 && pending_.size() == wanted) {
        const std::vector<uint8_t> frame = std::move(pending_);
        pending_.clear();
        OnFrame(frame);
    }
}

void RcrfSimulator::OnFrame(const std::vector<uint8_t> &frame) {
    const size_t last = frame.size() - 1;
    const bool jump = frame[1] == kJumpMark;
    if (Crc_Crc8(frame.data(), last) != frame[last] || (jump && frame[2] != 0x00)) {
        std::lock_guard<std::mutex> hold(stateLock_);
        Complain("bad frame CRC");
        return;
    }
    if (jump) {
        RecordFrame(kJumpToBootloader, frame.data(), frame.size());
        std::lock_guard<std::mutex> hold(stateLock_);
        stage_ = Stage::Bootloader;
        return;
    }
    if (frame[1] != moduleId_) {
        std::lock_guard<std::mutex> hold(stateLock_);
        Complain("frame for module " + std::to_string(frame[1]));
        return;
    }
    const uint8_t cmd = frame[2];
    const uint8_t seq = frame[3];
    // A lost acknowledgement is the device's reply lost: the device took the frame all the same.
    const bool answer = RecordFrame(cmd, frame.data(), frame.size());
    bool accepted;
    {
        std::lock_guard<std::mutex> hold(stateLock_);
        accepted = Accept(cmd, seq, frame.data() + kHeaderLength, frame[4]);
    }
    if (accepted && answer) {
        SendAck(cmd, seq);
    }
}

bool RcrfSimulator::Accept(uint8_t cmd, uint8_t seq, const uint8_t *data, uint8_t length) {
    switch (cmd) {
        case kRequest:
            if (stage_ == Stage::Application || length != 0) {
                break;
            }
            stage_ = Stage::Requested;
            return true;
        case kAppInfo:
            if (stage_ != Stage::Requested || length != kAppInfoLength || LoadLe32(data + 4) > 0xFF) {
                break;
            }
            announced_ = LoadLe32(data);
            announcedCrc_ = data[4];
            stage_ = Stage::Informed;
            return true;
        case kErase:
            if (stage_ != Stage::Informed || length != 0) {
                break;
            }
            programmed_.clear();
            haveLastSeq_ = false;
            stage_ = Stage::Erased;
            return true;
        case kProgram:
        case kProgramLast: {
            if (stage_ != Stage::Erased || (cmd == kProgram) != (length == kBlockLength)) {
                break;
            }
            if (haveLastSeq_ && seq == lastSeq_) {
                // The same frame again: its acknowledgement was lost. Stored once.
                const size_t start = programmed_.size() - lastLength_;
                if (length != lastLength_ || memcmp(programmed_.data() + start, data, length) != 0) {
                    Complain("frame " + std::to_string(seq) + " repeated with other bytes");
                    return false;
                }
                return true;
            }
            const bool last = cmd == kProgramLast;
            if (programmed_.size() + length > announced_ || (last && programmed_.size() + length != announced_)) {
                Complain("program frame " + std::to_string(seq) + " past the announced size");
                return false;
            }
            programmed_.insert(programmed_.end(), data, data + length);
            haveLastSeq_ = true;
            lastSeq_ = seq;
            lastLength_ = length;
            return true;
        }
        case kJumpToApp:
            if (stage_ != Stage::Erased || length != 0) {
                break;
            }
            if (programmed_.size() != announced_ || Crc_Crc8(programmed_.data(), programmed_.size()) != announcedCrc_) {
                Complain("image does not match its size or CRC");
                return false;
            }
            stage_ = Stage::Running;
            return true;
        default:
            break;
    }
    Complain("command " + std::to_string(cmd) + " out of order");
    return false;
}

void RcrfSimulator::SendReply(uint8_t id, uint8_t cmd, uint8_t seq, const std::vector<uint8_t> &data, bool corrupt) {
    std::vector<uint8_t> frame(kHeaderLength + data.size() + 1);
    frame[0] = kStart;
    frame[1] = id;
    frame[2] = cmd;
    frame[3] = seq;
    frame[4] = static_cast<uint8_t>(data.size());
    std::copy(data.begin(), data.end(), frame.begin() + kHeaderLength);
    const size_t last = frame.size() - 1;
    frame[last] = static_cast<uint8_t>(Crc_Crc8(frame.data(), last) ^ (corrupt ? 0xFF : 0x00));
    SendFrame(frame);
}

void RcrfSimulator::SendAck(uint8_t cmd, uint8_t seq) {
    int foreign;
    {
        std::lock_guard<std::mutex> hold(stateLock_);
        foreign = foreignAcks_;
    }
    const uint8_t otherModule = OtherModule();
    for (int index = 0; index < foreign; ++index) {
        switch (index % 3) {
            case 0:
                SendReply(otherModule, cmd, seq, {kAckData}, false);
                break;
            case 1:
                SendReply(moduleId_, cmd, seq, {}, false);
                break;
            default:
                SendReply(moduleId_, cmd, seq, {kAckData + 1}, false);
                break;
        }
    }
    const uint8_t id = TakeFault(Fault::WrongDeviceId) ? otherModule : moduleId_;
    const uint8_t replySeq = TakeFault(Fault::WrongSequence) ? static_cast<uint8_t>(seq + 1) : seq;
    SendReply(id, cmd, replySeq, {kAckData}, TakeFault(Fault::CorruptChecksum));
}

} // namespace tarn::bench
