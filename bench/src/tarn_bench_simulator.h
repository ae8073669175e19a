// The base of every device simulator: a thread that reads one SimPort and hands the bytes to the device's
// protocol, a record of the frames the device received, and the fault knobs a test turns.
//
// A concrete simulator derives from Simulator and:
//   - implements OnBytes: assembles frames from the bytes as its device would (bytes may come in any split),
//     calls RecordFrame(kind, bytes) for every complete frame, where kind is the simulator's own request code,
//     and, when RecordFrame returns true, answers with SendFrame;
//   - may implement OnIdle for what the device sends unasked (reports, telemetry);
//   - consults TakeFault while it encodes a reply: WrongSequence and WrongDeviceId before the checksum is
//     computed, CorruptChecksum after;
//   - calls Stop() first thing in its destructor, so the thread never calls into a half-destroyed object.
//
// Threads: OnBytes, OnIdle and SendFrame run on the simulator's thread only. Knobs, the frame record and
// Start/Stop belong to the test thread; the state both touch sits under one lock.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tarn_bench_sim_port.h"

namespace tarn::bench {

enum class Fault {
    CorruptChecksum, // the next reply's checksum is wrong
    WrongSequence,   // the next reply carries another sequence number than the request's
    WrongDeviceId,   // the next reply claims to come from another device
};
inline constexpr size_t kFaultCount = 3;

struct ReceivedFrame {
    int kind;
    std::chrono::steady_clock::time_point at;
    std::vector<uint8_t> bytes;
};

class Simulator {
public:
    explicit Simulator(SimPort &port) : port_(port) {}
    // Inline, so the class has no key function: the bench builds without RTTI and the tests with it, and a
    // simulator derived in a test needs this class's type information emitted there.
    virtual ~Simulator() { Stop(); }
    Simulator(const Simulator &) = delete;
    Simulator &operator=(const Simulator &) = delete;

    // Starts the thread; returns 0, or -1 when it is already running.
    int Start();
    // Ends the thread after its current step; harmless when not running.
    void Stop();

    // The next count requests of this kind are recorded but get no answer.
    void IgnoreNext(int kind, int count);
    // Every request is recorded and none is answered (a device that is off or wedged).
    void SetSilent(bool silent);
    // Each answer is held back this long before it is written.
    void SetReplyDelay(std::chrono::milliseconds delay);
    // The next count replies carry this fault.
    void Arm(Fault fault, int count = 1);
    // Written on the line before every reply: garbage between frames that the tool must skip.
    void SetNoise(std::vector<uint8_t> noise);
    // Paces both directions of the port at this many bytes per second (SimPort::SetLineRate): a request is
    // acted on when it could have arrived, and a reply reaches the tool when it could have.
    void SetLineRate(uint32_t bytesPerSecond);

    std::vector<ReceivedFrame> Frames() const;
    std::vector<ReceivedFrame> FramesOfKind(int kind) const;
    // Waits until at least count frames of this kind were received (any kind when kind < 0); true if so.
    bool WaitForFrames(int kind, size_t count, std::chrono::milliseconds timeout) const;

    SimPort &Port() { return port_; }

    // A knob by name, for tarn-bench --knob NAME=VALUE; 0, or -1 when the simulator has no such knob or the
    // value does not fit it. Set before Start.
    virtual int SetKnob(const std::string &name, const std::string &value) {
        (void)name;
        (void)value;
        return -1;
    }

protected:
    // A knob's value as a whole number (decimal, 0x hex or 0 octal, in full); 0, or -1 when it is none.
    static int KnobNumber(const std::string &value, uint32_t *number);

    virtual void OnBytes(const uint8_t *bytes, size_t count) = 0;
    virtual void OnIdle() {}

    // Records the frame; false when the knobs say this request gets no answer.
    bool RecordFrame(int kind, const uint8_t *bytes, size_t count);
    // Consumes one armed fault of this kind; true if the reply being built must carry it.
    bool TakeFault(Fault fault);
    // Delay, noise, then the frame itself, each paced by the port; 0, or -1 when the line is blocked.
    int SendFrame(const std::vector<uint8_t> &frame);

private:
    void Run();
    size_t CountOfKind(int kind) const; // caller holds lock_

    SimPort &port_;
    std::thread thread_; // test thread only
    std::atomic<bool> stopping_{false};

    mutable std::mutex lock_;
    mutable std::condition_variable framesChanged_;
    // Guarded by lock_: set by the test thread, read and consumed by the simulator thread.
    std::vector<ReceivedFrame> frames_;
    std::map<int, int> ignoreCounts_;
    std::array<int, kFaultCount> armedFaults_{};
    bool silent_ = false;
    std::chrono::milliseconds replyDelay_{0};
    std::vector<uint8_t> noise_;
};

} // namespace tarn::bench
