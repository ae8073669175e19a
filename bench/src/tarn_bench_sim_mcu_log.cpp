#include "tarn_bench_sim_mcu_log.h"

#include <algorithm>

namespace tarn::bench {

namespace {

// At most this much stream is generated per step: a stalled simulator thread does not come back with a burst
// larger than a real line could have carried in a moment.
constexpr uint64_t kMaxStepBytes = 4096;

} // namespace

uint8_t McuLogSimulator::PatternByte(uint64_t offset) {
    static constexpr char kTail[] = " log\n";
    constexpr size_t kDigits = 10;
    const size_t column = static_cast<size_t>(offset % kLineLength);
    if (column == 0) {
        return 'L';
    }
    if (column > kDigits) {
        return static_cast<uint8_t>(kTail[column - kDigits - 1]);
    }
    uint64_t number = offset / kLineLength;
    for (size_t digit = kDigits; digit > column; --digit) {
        number /= 10;
    }
    return static_cast<uint8_t>('0' + number % 10);
}

McuLogSimulator::McuLogSimulator(SimPort &port, uint32_t bytesPerSecond)
    : Simulator(port), bytesPerSecond_(bytesPerSecond) {}

void McuLogSimulator::SetPaused(bool paused) {
    paused_ = paused;
}

void McuLogSimulator::HangUp() {
    hangUpRequested_ = true;
}

void McuLogSimulator::SetBursts(uint32_t bytes, uint32_t pauseMs) {
    burstPauseMs_ = pauseMs;
    burstBytes_ = bytes;
}

int McuLogSimulator::SetKnob(const std::string &name, const std::string &value) {
    uint32_t number = 0;
    if (KnobNumber(value, &number) != 0) {
        return -1;
    }
    if (name == "burst") {
        SetBursts(number, burstPauseMs_);
    } else if (name == "pause") {
        SetBursts(burstBytes_, number);
    } else {
        return -1;
    }
    return 0;
}

uint64_t McuLogSimulator::SentCount() const {
    std::lock_guard<std::mutex> hold(recordLock_);
    return sentCount_;
}

uint64_t McuLogSimulator::DroppedCount() const {
    std::lock_guard<std::mutex> hold(recordLock_);
    return droppedCount_;
}

std::vector<SentChunk> McuLogSimulator::Sent() const {
    std::lock_guard<std::mutex> hold(recordLock_);
    return sent_;
}

void McuLogSimulator::OnIdle() {
    if (hangUpRequested_ && !Port().HungUp()) {
        Port().HangUp();
    }
    const auto now = std::chrono::steady_clock::now();
    const uint32_t burst = burstBytes_;
    if (!started_ || paused_ || Port().HungUp() || (burst != 0 && now < quietUntil_)) {
        started_ = true;
        lastTick_ = now;
        return;
    }
    const auto elapsed = std::chrono::duration_cast<std::chrono::microseconds>(now - lastTick_).count();
    lastTick_ = now;
    owedMicroBytes_ += static_cast<uint64_t>(elapsed) * bytesPerSecond_;
    uint64_t due = std::min<uint64_t>(owedMicroBytes_ / 1000000u, kMaxStepBytes);
    owedMicroBytes_ = due == kMaxStepBytes ? 0 : owedMicroBytes_ % 1000000u;
    if (due == 0) {
        return;
    }
    if (burst != 0) {
        burstLeft_ = burstLeft_ == 0 ? burst : burstLeft_;
        due = std::min(due, burstLeft_);
        burstLeft_ -= due;
        if (burstLeft_ == 0) {
            quietUntil_ = now + std::chrono::milliseconds(burstPauseMs_.load());
            owedMicroBytes_ = 0;
        }
    }
    uint8_t bytes[kMaxStepBytes];
    for (uint64_t index = 0; index < due; ++index) {
        bytes[index] = PatternByte(nextOffset_ + index);
    }
    const int taken = Port().Offer(bytes, static_cast<size_t>(due));
    const uint64_t carried = taken > 0 ? static_cast<uint64_t>(taken) : 0;
    std::lock_guard<std::mutex> hold(recordLock_);
    if (carried > 0) {
        sent_.push_back({nextOffset_, static_cast<uint32_t>(carried), now});
    }
    sentCount_ += carried;
    droppedCount_ += due - carried;
    nextOffset_ += due;
}

} // namespace tarn::bench
