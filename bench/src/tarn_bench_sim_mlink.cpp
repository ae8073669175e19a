#include "tarn_bench_sim_mlink.h"

#include "tarn_byte_order.h"
#include "tarn_crc.h"

namespace tarn::bench {

namespace {

// Consumes one count of a knob; true when it was armed.
bool TakeKnob(std::map<uint8_t, int> &knobs, uint8_t cmd) {
    const auto found = knobs.find(cmd);
    if (found == knobs.end() || found->second <= 0) {
        return false;
    }
    --found->second;
    return true;
}

} // namespace

std::optional<std::vector<uint8_t>> MlinkBootLoader::Handle(const MlinkMsg &request) {
    std::lock_guard<std::mutex> hold(lock_);
    std::optional<std::vector<uint8_t>> reply;
    if (request.cmd == kFlag) {
        flags_.push_back(request.payload[0]);
        reply = std::vector<uint8_t>{};
    } else if (addressesTarget_ && request.len == 0) {
        reply = Refuse();
    } else {
        const size_t skip = addressesTarget_ ? 1 : 0;
        const uint8_t target = addressesTarget_ ? request.payload[0] : 0;
        reply = Carry(request.cmd, target, request.payload + skip, request.len - skip, request.seq);
    }
    if (reply.has_value() && !reply->empty() && TakeKnob(wrongTargets_, request.cmd)) {
        (*reply)[0] = static_cast<uint8_t>((*reply)[0] + 1);
    }
    if (TakeKnob(lostAcks_, request.cmd)) {
        return std::nullopt;
    }
    return reply;
}

std::optional<std::vector<uint8_t>> MlinkBootLoader::Refuse() const {
    if (addressesTarget_) {
        return std::vector<uint8_t>{0x00};
    }
    return std::nullopt;
}

std::optional<std::vector<uint8_t>> MlinkBootLoader::Carry(uint8_t cmd, uint8_t target, const uint8_t *pData,
                                                           size_t count, uint8_t sequence) {
    Target &state = targets_[target];
    switch (cmd) {
        case kPrepare:
            state.prepared = true;
            state.started = false;
            break;
        case kErase:
            if (!state.prepared) {
                return Refuse();
            }
            state = Target{};
            state.prepared = true;
            state.erased = true;
            break;
        case kProgram:
            if (!state.erased) {
                return Refuse();
            }
            // A chunk sent again because its acknowledgement was lost is written once.
            if (state.lastProgramSequence != sequence) {
                state.flash.insert(state.flash.end(), pData, pData + count);
                state.lastProgramSequence = sequence;
            }
            break;
        case kVerify: {
            if (count < 4) {
                return Refuse();
            }
            const uint32_t crc = LoadBe32(pData);
            state.verifiedCrc = crc;
            state.verified = state.erased && crc == Crc_Crc32Words(state.flash.data(), state.flash.size(), 0);
            if (!state.verified) {
                return Refuse();
            }
            break;
        }
        case kGotoApp:
            if (!state.verified) {
                return Refuse();
            }
            state.started = true;
            break;
        default:
            return Refuse();
    }
    return addressesTarget_ ? std::vector<uint8_t>{target} : std::vector<uint8_t>{};
}

void MlinkBootLoader::AnswerWrongTarget(uint8_t cmd, int count) {
    std::lock_guard<std::mutex> hold(lock_);
    wrongTargets_[cmd] = count;
}

void MlinkBootLoader::LoseAcks(uint8_t cmd, int count) {
    std::lock_guard<std::mutex> hold(lock_);
    lostAcks_[cmd] = count;
}

std::vector<uint8_t> MlinkBootLoader::Flags() const {
    std::lock_guard<std::mutex> hold(lock_);
    return flags_;
}

std::vector<uint8_t> MlinkBootLoader::Image(uint8_t target) const {
    std::lock_guard<std::mutex> hold(lock_);
    const auto found = targets_.find(target);
    return found != targets_.end() ? found->second.flash : std::vector<uint8_t>{};
}

std::optional<uint32_t> MlinkBootLoader::VerifiedCrc(uint8_t target) const {
    std::lock_guard<std::mutex> hold(lock_);
    const auto found = targets_.find(target);
    return found != targets_.end() ? found->second.verifiedCrc : std::nullopt;
}

bool MlinkBootLoader::Started(uint8_t target) const {
    std::lock_guard<std::mutex> hold(lock_);
    const auto found = targets_.find(target);
    return found != targets_.end() && found->second.started;
}

std::vector<std::vector<uint8_t>> MlinkSimulator::FramesOf(uint8_t cmd) const {
    std::vector<std::vector<uint8_t>> frames;
    for (const ReceivedFrame &frame : FramesOfKind(cmd)) {
        frames.push_back(frame.bytes);
    }
    return frames;
}

void MlinkSimulator::HandleBytes(const uint8_t *bytes, size_t count) {
    for (size_t index = 0; index < count; ++index) {
        const MlinkMsg *pRequest = parser_.Push(bytes[index]);
        if (pRequest == nullptr) {
            continue;
        }
        const MlinkMsg request = *pRequest;
        uint8_t wire[kMlinkFrameMax];
        const size_t size = Mlink_Serialise(&request, wire);
        if (!RecordFrame(request.cmd, wire, size)) {
            continue;
        }
        const std::optional<std::vector<uint8_t>> reply =
            MlinkBootLoader::IsUpgradeCommand(request.cmd) ? bootLoader_.Handle(request) : ReplyTo(request);
        if (reply.has_value()) {
            Answer(request, *reply);
        }
    }
}

void MlinkSimulator::Answer(const MlinkMsg &request, const std::vector<uint8_t> &payload) {
    MlinkMsg reply{};
    const uint8_t otherDevice = devid_ == kGimbalDeviceId ? kLensDeviceId : kGimbalDeviceId;
    const uint8_t devid = TakeFault(Fault::WrongDeviceId) ? otherDevice : devid_;
    const uint8_t seq = TakeFault(Fault::WrongSequence) ? static_cast<uint8_t>(request.seq + 1) : request.seq;
    Mlink_Pack(&reply, devid, request.cmd, seq, static_cast<uint8_t>(payload.size()), payload.data());
    uint8_t wire[kMlinkFrameMax];
    const size_t size = Mlink_Serialise(&reply, wire);
    if (TakeFault(Fault::CorruptChecksum)) {
        wire[size - 1] ^= 0xFF;
    }
    SendFrame(std::vector<uint8_t>(wire, wire + size));
}

void MlinkSimulator::SendUnasked(uint8_t cmd, const std::vector<uint8_t> &payload) {
    MlinkMsg frame{};
    Mlink_Pack(&frame, devid_, cmd, unaskedSequence_++, static_cast<uint8_t>(payload.size()), payload.data());
    uint8_t wire[kMlinkFrameMax];
    const size_t size = Mlink_Serialise(&frame, wire);
    SendFrame(std::vector<uint8_t>(wire, wire + size));
}

} // namespace tarn::bench
