#include "tarn_bench_sim_rcrf.h"

#include <algorithm>
#include <cstring>

#include "tarn_byte_order.h"
#include "tarn_crc.h"

namespace tarn::bench {

namespace {

// The modules' wire table.
constexpr uint8_t kStart = 0xAA;
constexpr uint8_t kJumpMark = 0xE0; // in the id's place: the first generation's four-byte jump
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

void RcrfSimulator::SetVersion(uint8_t id, std::array<uint8_t, 4> data) {
    std::lock_guard<std::mutex> hold(stateLock_);
    modules_.at(id).version = data;
}

void RcrfSimulator::SetPlainAckToVersion(uint8_t id, bool on) {
    std::lock_guard<std::mutex> hold(stateLock_);
    modules_.at(id).plainAckToVersion = on;
}

void RcrfSimulator::Chatter() {
    bool on;
    {
        std::lock_guard<std::mutex> hold(stateLock_);
        on = chatter_;
    }
    if (on) {
        SendReply(OtherModule(firstId_), AckCommand(kRequest), 0, {kAckData}, false);
    }
}

std::vector<uint8_t> RcrfSimulator::Programmed(uint8_t id) const {
    std::lock_guard<std::mutex> hold(stateLock_);
    return modules_.at(id).programmed;
}

uint32_t RcrfSimulator::AnnouncedSize(uint8_t id) const {
    std::lock_guard<std::mutex> hold(stateLock_);
    return modules_.at(id).announced;
}

bool RcrfSimulator::Running(uint8_t id) const {
    std::lock_guard<std::mutex> hold(stateLock_);
    return modules_.at(id).stage == Stage::Running;
}

std::vector<std::string> RcrfSimulator::Complaints() const {
    std::lock_guard<std::mutex> hold(stateLock_);
    return complaints_;
}

void RcrfSimulator::Complain(const std::string &what) {
    complaints_.push_back(what);
}

uint8_t RcrfSimulator::AckCommand(uint8_t cmd) const {
    return generation_ == Generation::First ? cmd : kAckData;
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
        // No module answers it, and it names none: every first-generation module on the line restarts.
        RecordFrame(kJumpToBootloader, frame.data(), frame.size());
        std::lock_guard<std::mutex> hold(stateLock_);
        if (generation_ != Generation::First) {
            Complain("four-byte jump");
            return;
        }
        for (int id = firstId_; id <= lastId_; ++id) {
            modules_[static_cast<size_t>(id)].stage = Stage::Bootloader;
        }
        return;
    }
    const uint8_t id = frame[1];
    if (!OnLine(id)) {
        std::lock_guard<std::mutex> hold(stateLock_);
        Complain("frame for module " + std::to_string(id));
        return;
    }
    const uint8_t cmd = frame[2];
    const uint8_t seq = frame[3];
    // A lost acknowledgement is the device's reply lost: the device took the frame all the same.
    const bool answer = RecordFrame(generation_ == Generation::First ? cmd : Kind(id, cmd), frame.data(), frame.size());
    Reply reply = {AckCommand(cmd), {kAckData}};
    bool accepted;
    {
        std::lock_guard<std::mutex> hold(stateLock_);
        accepted = Accept(modules_[id], cmd, seq, frame.data() + kHeaderLength, frame[4], &reply);
    }
    if (accepted && answer) {
        SendAck(id, seq, reply);
    }
}

bool RcrfSimulator::Accept(Module &module, uint8_t cmd, uint8_t seq, const uint8_t *data, uint8_t length,
                           Reply *reply) {
    const bool second = generation_ == Generation::Second;
    switch (cmd) {
        case kJumpToBootloader:
            if (!second || length != 1 || data[0] != kAckData) {
                break;
            }
            module.stage = Stage::Bootloader;
            return true;
        case kVersion:
            if (!second) {
                break;
            }
            if (!module.plainAckToVersion) {
                *reply = {kVersion, {module.version.begin(), module.version.end()}};
            }
            return true;
        case kRequest:
            if (module.stage == Stage::Application || length != 0) {
                break;
            }
            module.stage = Stage::Requested;
            return true;
        case kAppInfo:
            if (module.stage != Stage::Requested || length != kAppInfoLength || LoadLe32(data + 4) > 0xFF) {
                break;
            }
            module.announced = LoadLe32(data);
            module.announcedCrc = data[4];
            module.stage = Stage::Informed;
            return true;
        case kErase:
            if (module.stage != Stage::Informed || length != 0) {
                break;
            }
            module.programmed.clear();
            module.haveLastSeq = false;
            module.stage = Stage::Erased;
            return true;
        case kProgram:
        case kProgramLast: {
            // A full frame is a plain one, except that the second generation marks the last one even when full.
            const bool full = length == kBlockLength;
            const bool fits = cmd == kProgram ? full : length <= kBlockLength && (second || !full);
            if (module.stage != Stage::Erased || !fits) {
                break;
            }
            return Program(module, cmd, seq, data, length);
        }
        case kJumpToApp:
            if (module.stage != Stage::Erased || length != 0) {
                break;
            }
            if (module.programmed.size() != module.announced ||
                Crc_Crc8(module.programmed.data(), module.programmed.size()) != module.announcedCrc) {
                Complain("image does not match its size or CRC");
                return false;
            }
            module.stage = Stage::Running;
            return true;
        default:
            break;
    }
    Complain("command " + std::to_string(cmd) + " out of order");
    return false;
}

bool RcrfSimulator::Program(Module &module, uint8_t cmd, uint8_t seq, const uint8_t *data, uint8_t length) {
    if (module.haveLastSeq && seq == module.lastSeq) {
        // The same frame again: its acknowledgement was lost. Stored once.
        const size_t start = module.programmed.size() - module.lastLength;
        if (length != module.lastLength || memcmp(module.programmed.data() + start, data, length) != 0) {
            Complain("frame " + std::to_string(seq) + " repeated with other bytes");
            return false;
        }
        return true;
    }
    const size_t after = module.programmed.size() + length;
    if (after > module.announced || (cmd == kProgramLast && after != module.announced)) {
        Complain("program frame " + std::to_string(seq) + " past the announced size");
        return false;
    }
    module.programmed.insert(module.programmed.end(), data, data + length);
    module.haveLastSeq = true;
    module.lastSeq = seq;
    module.lastLength = length;
    return true;
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

void RcrfSimulator::SendAck(uint8_t id, uint8_t seq, const Reply &reply) {
    int foreign;
    {
        std::lock_guard<std::mutex> hold(stateLock_);
        foreign = foreignAcks_;
    }
    const uint8_t ackCmd = reply.cmd;
    const uint8_t otherModule = OtherModule(id);
    for (int index = 0; index < foreign; ++index) {
        switch (index % 3) {
            case 0:
                SendReply(otherModule, ackCmd, seq, {kAckData}, false);
                break;
            case 1:
                SendReply(id, ackCmd, seq, {}, false);
                break;
            default:
                SendReply(id, ackCmd, seq, {kAckData + 1}, false);
                break;
        }
    }
    const uint8_t replyId = TakeFault(Fault::WrongDeviceId) ? otherModule : id;
    const uint8_t replySeq = TakeFault(Fault::WrongSequence) ? static_cast<uint8_t>(seq + 1) : seq;
    SendReply(replyId, reply.cmd, replySeq, reply.data, TakeFault(Fault::CorruptChecksum));
}

} // namespace tarn::bench
