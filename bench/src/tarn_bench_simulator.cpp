#include "tarn_bench_simulator.h"

#include "tarn_bench_report.h"

#include <algorithm>
#include <cstdlib>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace tarn::bench {

namespace {

// How long the thread waits for bytes before it runs OnIdle and looks at the stop flag again.
constexpr int kPollMs = 20;
// The simulator thread's nice value.
constexpr int kDevicePriority = -10;

} // namespace

int Simulator::KnobNumber(const std::string &value, uint32_t *number) {
    char *end = nullptr;
    const unsigned long parsed = strtoul(value.c_str(), &end, 0);
    if (value.empty() || *end != '\0') {
        return -1;
    }
    *number = static_cast<uint32_t>(parsed);
    return 0;
}

int Simulator::Start() {
    if (thread_.joinable()) {
        return -1;
    }
    stopping_ = false;
    thread_ = std::thread([this] { Run(); });
    return 0;
}

void Simulator::Stop() {
    stopping_ = true;
    if (thread_.joinable()) {
        thread_.join();
    }
}

void Simulator::Run() {
    // The device is hardware of its own: where the bench may (as root), its thread goes ahead of the host's
    // other work, so a loaded machine delays its answers less. Without the right it runs as it is.
    (void)setpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)), kDevicePriority);
    uint8_t buffer[512];
    while (!stopping_) {
        const int count = port_.Read(buffer, sizeof buffer, kPollMs);
        if (count < 0) {
            ReportSystemError(("read " + port_.SlavePath()).c_str());
            return;
        }
        if (count > 0) {
            OnBytes(buffer, static_cast<size_t>(count));
        }
        OnIdle();
    }
}

void Simulator::SetLineRate(uint32_t bytesPerSecond) {
    port_.SetLineRate(bytesPerSecond);
}

void Simulator::IgnoreNext(int kind, int count) {
    std::lock_guard<std::mutex> hold(lock_);
    ignoreCounts_[kind] = count;
}

void Simulator::SetSilent(bool silent) {
    std::lock_guard<std::mutex> hold(lock_);
    silent_ = silent;
}

void Simulator::SetReplyDelay(std::chrono::milliseconds delay) {
    std::lock_guard<std::mutex> hold(lock_);
    replyDelay_ = delay;
}

void Simulator::Arm(Fault fault, int count) {
    std::lock_guard<std::mutex> hold(lock_);
    armedFaults_[static_cast<size_t>(fault)] = count;
}

void Simulator::SetNoise(std::vector<uint8_t> noise) {
    std::lock_guard<std::mutex> hold(lock_);
    noise_ = std::move(noise);
}

std::vector<ReceivedFrame> Simulator::Frames() const {
    std::lock_guard<std::mutex> hold(lock_);
    return frames_;
}

std::vector<ReceivedFrame> Simulator::FramesOfKind(int kind) const {
    std::lock_guard<std::mutex> hold(lock_);
    std::vector<ReceivedFrame> matching;
    for (const ReceivedFrame &frame : frames_) {
        if (frame.kind == kind) {
            matching.push_back(frame);
        }
    }
    return matching;
}

size_t Simulator::CountOfKind(int kind) const {
    if (kind < 0) {
        return frames_.size();
    }
    size_t count = 0;
    for (const ReceivedFrame &frame : frames_) {
        count += frame.kind == kind ? 1 : 0;
    }
    return count;
}

bool Simulator::WaitForFrames(int kind, size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> hold(lock_);
    return framesChanged_.wait_for(hold, timeout, [&] { return CountOfKind(kind) >= count; });
}

bool Simulator::RecordFrame(int kind, const uint8_t *bytes, size_t count) {
    std::lock_guard<std::mutex> hold(lock_);
    frames_.push_back({kind, std::chrono::steady_clock::now(), std::vector<uint8_t>(bytes, bytes + count)});
    framesChanged_.notify_all();
    if (silent_) {
        return false;
    }
    const auto ignored = ignoreCounts_.find(kind);
    if (ignored != ignoreCounts_.end() && ignored->second > 0) {
        --ignored->second;
        return false;
    }
    return true;
}

bool Simulator::TakeFault(Fault fault) {
    std::lock_guard<std::mutex> hold(lock_);
    int &armed = armedFaults_[static_cast<size_t>(fault)];
    if (armed <= 0) {
        return false;
    }
    --armed;
    return true;
}

int Simulator::SendFrame(const std::vector<uint8_t> &frame) {
    std::chrono::milliseconds delay;
    std::vector<uint8_t> noise;
    {
        std::lock_guard<std::mutex> hold(lock_);
        delay = replyDelay_;
        noise = noise_;
    }
    if (delay.count() > 0) {
        std::this_thread::sleep_for(delay);
    }
    if (!noise.empty() && port_.Write(noise) < 0) {
        return -1;
    }
    return port_.Write(frame) < 0 ? -1 : 0;
}

} // namespace tarn::bench
