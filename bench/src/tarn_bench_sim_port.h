// One simulated serial line: a pseudo-terminal whose slave plays the tool's /dev/ttySn while the simulator
// side owns the master. The slave is raw from creation, and the port keeps one slave descriptor open itself so
// the master never sees a hang-up when the tool closes its end.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace tarn::bench {

// 115200 baud with 8 data bits, no parity and 1 stop bit carries 10 bit times per byte.
inline constexpr uint32_t kLineRate115200 = 11520;

enum class PortSide {
    Simulator, // bytes the simulator wrote to the master
    Tool,      // bytes the tool wrote to its /dev/ttySn, as read from the master
};

struct PortLogEntry {
    PortSide side;
    std::chrono::steady_clock::time_point at;
    std::vector<uint8_t> bytes;
};

// Threads: one thread may read while another writes and a third inspects the log; the log has its own lock.
// Two threads never read at once, nor write at once (the same rule the tool's serial port follows).
class SimPort {
public:
    // nullptr after printing why the pseudo-terminal could not be made.
    static std::unique_ptr<SimPort> Create();
    // The same line over two real serial ports wired to each other (in a VM: two 8250 UARTs joined by the
    // host): the simulator owns simulatorDevice, the tool gets toolDevice. Both are raw, and toolDevice is kept
    // open, so the tool's open neither starts the port afresh nor flushes what already arrived.
    static std::unique_ptr<SimPort> CreateOnDevices(const std::string &simulatorDevice, const std::string &toolDevice);
    ~SimPort();
    SimPort(const SimPort &) = delete;
    SimPort &operator=(const SimPort &) = delete;

    // "/dev/pts/N" (or the tool's device): what a sandbox binds onto /dev/ttySn.
    const std::string &SlavePath() const { return slavePath_; }
    int MasterFd() const { return masterFd_; }

    // Paces both directions at bytesPerSecond, as a serial line at that speed would (0: as fast as the
    // pseudo-terminal goes). The tool's bytes are handed over by Read no earlier than the last of them could
    // have arrived; Write hands each piece to the tool when its last byte would have arrived, on a schedule
    // that carries over from one write to the next, so sleeping late never adds up.
    void SetLineRate(uint32_t bytesPerSecond);
    uint32_t LineRate() const { return lineRate_.load(); }

    // Waits at most timeoutMs for the tool's bytes, then returns what one read delivered: 1..length, 0 when
    // nothing came, -1 on an error. On a paced line it returns when those bytes have crossed it.
    int Read(uint8_t *buffer, size_t length, int timeoutMs);
    // Collects exactly length bytes unless timeoutMs passes first; returns how many came (-1 on an error).
    int ReadExact(uint8_t *buffer, size_t length, int timeoutMs);
    // Reads begun so far. Once it has grown past a value taken after some bytes were logged, the reading thread
    // has handled those bytes and come back for more.
    uint64_t ReadsBegun() const { return readsBegun_.load(); }
    // Drops whatever the tool has sent and nobody read yet (it is still logged).
    void DiscardInput();
    // Writes every byte (paced when a line rate is set); returns length, or -1 when the line stays blocked.
    int Write(const uint8_t *buffer, size_t length);
    int Write(const std::vector<uint8_t> &bytes) { return Write(bytes.data(), bytes.size()); }
    // Writes what the line takes at once, unpaced and without waiting, as a UART without flow control sends
    // into a reader that does not keep up; returns the count taken (the rest is the caller's to drop), -1 on
    // an error. The log records only what was taken.
    int Offer(const uint8_t *buffer, size_t length);
    // Closes the simulator's side: the tool's descriptor reads end of file from now on. Reads here then only
    // wait out their time-out and writes fail. Called by the thread that reads and writes the port.
    void HangUp();
    bool HungUp() const { return hungUp_.load(); }

    std::vector<PortLogEntry> Log() const;
    // Every byte one side sent, in order.
    std::vector<uint8_t> BytesFrom(PortSide side) const;

private:
    SimPort(int masterFd, int slaveFd, std::string slavePath);
    void Record(PortSide side, const uint8_t *bytes, size_t count);
    int WriteSome(const uint8_t *buffer, size_t length);
    // Where a paced write's line time may start, the line being free.
    std::chrono::steady_clock::time_point ReadyToSend() const;

    // Set once by Create; read-only afterwards, closed early by HangUp (on the reading and writing thread).
    const int masterFd_;
    std::atomic<bool> hungUp_{false};
    const int slaveFd_;
    const std::string slavePath_;

    // Set by the test thread while the simulator thread writes: atomic, no other state depends on it.
    std::atomic<uint32_t> lineRate_{0};
    // When each direction's line is free again, on a paced line. Owned by the reading (and the writing) thread
    // of the moment: reads never overlap, nor do writes, and a thread that takes over was started or joined
    // after the last one.
    std::chrono::steady_clock::time_point toolLineFreeAt_{};
    std::chrono::steady_clock::time_point simulatorLineFreeAt_{};
    // When the last paced read handed its bytes over (their arrival), for the writer's schedule; the reading
    // and the writing thread may differ, hence atomic. Nothing else depends on it.
    std::atomic<std::chrono::steady_clock::rep> handedOverAt_{0};
    // Counted by the reading thread, looked at by the test thread: atomic, nothing else depends on it.
    std::atomic<uint64_t> readsBegun_{0};

    mutable std::mutex logLock_;
    std::vector<PortLogEntry> log_; // guarded by logLock_
};

// The least time the logged traffic can take on a line at bytesPerSecond, one exchange after another: every
// byte of both directions at the line rate, plus the waits the protocol orders (pauses, silences it waits out).
struct LineFloor {
    size_t toolBytes = 0;
    size_t simulatorBytes = 0;
    std::chrono::nanoseconds wire{0};
    std::chrono::nanoseconds waits{0};
    std::chrono::nanoseconds Total() const { return wire + waits; }
};
LineFloor FloorOf(const std::vector<PortLogEntry> &log, uint32_t bytesPerSecond, std::chrono::nanoseconds waits);
// "floor 40.70 s (N bytes from the tool, M to it at R B/s: W s; waits S s); wall T s = X.XXx the floor".
std::string DescribeFloor(const LineFloor &floor, uint32_t bytesPerSecond, std::chrono::nanoseconds wall);

} // namespace tarn::bench
