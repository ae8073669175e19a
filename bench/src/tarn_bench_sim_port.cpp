#include "tarn_bench_sim_port.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

#include "tarn_bench_report.h"

namespace tarn::bench {

namespace {

// A write that makes no progress for this long means the tool stopped reading for good.
constexpr int kWriteStallMs = 5000;

using Clock = std::chrono::steady_clock;

// A device answers the moment a request has arrived: a write this soon after a paced read handed its bytes over
// is a reply, and its line time starts at their arrival, not after the simulator's own wake-up and handling.
// A deliberate delay (SetReplyDelay) is longer and starts the reply when it ends.
constexpr auto kReactionWindow = std::chrono::milliseconds(1);

// Rounded up: a wait never ends before its time.
int RemainingMs(Clock::time_point deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

int WaitFor(int fd, short events, int timeoutMs) {
    pollfd entry{fd, events, 0};
    for (;;) {
        const int ready = poll(&entry, 1, timeoutMs);
        if (ready >= 0 || errno != EINTR) {
            return ready;
        }
    }
}

// An absolute wait, with the thread's timer slack cut to the least: the kernel would otherwise let each wake-up
// run up to 50 us late, and a paced exchange has several.
void SleepUntil(Clock::time_point deadline) {
    thread_local const bool kSlackCut = prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL) == 0;
    (void)kSlackCut;
    const auto sinceEpoch = std::chrono::duration_cast<std::chrono::nanoseconds>(deadline.time_since_epoch());
    timespec at{};
    at.tv_sec = static_cast<time_t>(sinceEpoch.count() / 1000000000);
    at.tv_nsec = static_cast<long>(sinceEpoch.count() % 1000000000);
    // steady_clock is CLOCK_MONOTONIC on Linux.
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &at, nullptr) == EINTR) {
    }
}

// How long count bytes take on the line.
std::chrono::nanoseconds LineTime(size_t count, uint32_t bytesPerSecond) {
    return std::chrono::nanoseconds(static_cast<uint64_t>(count) * 1000000000u / bytesPerSecond);
}

} // namespace

std::unique_ptr<SimPort> SimPort::Create() {
    // posix_openpt rather than openpty: descriptors must be close-on-exec from birth, or a sandbox forked by
    // another thread in between would carry this line into an unrelated tool.
    const int masterFd = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (masterFd < 0) {
        ReportSystemError("posix_openpt");
        return nullptr;
    }
    char name[64];
    if (grantpt(masterFd) != 0 || unlockpt(masterFd) != 0 || ptsname_r(masterFd, name, sizeof name) != 0) {
        ReportSystemError("unlock pseudo-terminal");
        close(masterFd);
        return nullptr;
    }
    const int slaveFd = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios attributes{};
    if (slaveFd < 0 || tcgetattr(slaveFd, &attributes) != 0) {
        ReportSystemError(name);
        close(masterFd);
        if (slaveFd >= 0) {
            close(slaveFd);
        }
        return nullptr;
    }
    cfmakeraw(&attributes);
    if (tcsetattr(slaveFd, TCSANOW, &attributes) != 0 ||
        fcntl(masterFd, F_SETFL, fcntl(masterFd, F_GETFL) | O_NONBLOCK) != 0) {
        ReportSystemError("raw mode");
        close(masterFd);
        close(slaveFd);
        return nullptr;
    }
    return std::unique_ptr<SimPort>(new SimPort(masterFd, slaveFd, name));
}

std::unique_ptr<SimPort> SimPort::CreateOnDevices(const std::string &simulatorDevice, const std::string &toolDevice) {
    const int simulatorFd = open(simulatorDevice.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    const int toolFd = open(toolDevice.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    bool raw = simulatorFd >= 0 && toolFd >= 0;
    for (const int fd : {simulatorFd, toolFd}) {
        termios attributes{};
        if (raw && tcgetattr(fd, &attributes) == 0) {
            cfmakeraw(&attributes);
            raw = tcsetattr(fd, TCSANOW, &attributes) == 0 && tcflush(fd, TCIOFLUSH) == 0;
        } else {
            raw = false;
        }
    }
    if (!raw) {
        ReportSystemError(("serial devices " + simulatorDevice + " and " + toolDevice).c_str());
        for (const int fd : {simulatorFd, toolFd}) {
            if (fd >= 0) {
                close(fd);
            }
        }
        return nullptr;
    }
    return std::unique_ptr<SimPort>(new SimPort(simulatorFd, toolFd, toolDevice));
}

SimPort::SimPort(int masterFd, int slaveFd, std::string slavePath)
    : masterFd_(masterFd), slaveFd_(slaveFd), slavePath_(std::move(slavePath)) {}

SimPort::~SimPort() {
    if (!hungUp_) {
        close(masterFd_);
    }
    close(slaveFd_);
}

void SimPort::SetLineRate(uint32_t bytesPerSecond) {
    lineRate_ = bytesPerSecond;
}

void SimPort::Record(PortSide side, const uint8_t *bytes, size_t count) {
    if (count == 0) {
        return;
    }
    PortLogEntry entry{side, Clock::now(), std::vector<uint8_t>(bytes, bytes + count)};
    std::lock_guard<std::mutex> hold(logLock_);
    log_.push_back(std::move(entry));
}

int SimPort::Read(uint8_t *buffer, size_t length, int timeoutMs) {
    ++readsBegun_;
    if (length == 0) {
        return 0;
    }
    if (hungUp_) {
        std::this_thread::sleep_for(std::chrono::milliseconds(timeoutMs));
        return 0;
    }
    const int ready = WaitFor(masterFd_, POLLIN, timeoutMs);
    if (ready <= 0) {
        return ready;
    }
    const ssize_t count = read(masterFd_, buffer, length);
    if (count < 0) {
        // EAGAIN: the wake-up was spurious. The slave descriptor kept open rules out the hang-up's EIO.
        return errno == EAGAIN ? 0 : -1;
    }
    Record(PortSide::Tool, buffer, static_cast<size_t>(count));
    const uint32_t lineRate = lineRate_;
    if (lineRate != 0) {
        // The tool wrote them no later than now; they cannot have crossed the line before it had carried them
        // and whatever it was still carrying.
        toolLineFreeAt_ = std::max(toolLineFreeAt_, Clock::now()) + LineTime(static_cast<size_t>(count), lineRate);
        SleepUntil(toolLineFreeAt_);
        handedOverAt_ = toolLineFreeAt_.time_since_epoch().count();
    }
    return static_cast<int>(count);
}

int SimPort::ReadExact(uint8_t *buffer, size_t length, int timeoutMs) {
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    size_t done = 0;
    while (done < length) {
        const int count = Read(buffer + done, length - done, RemainingMs(deadline));
        if (count < 0) {
            return -1;
        }
        done += static_cast<size_t>(count);
        if (count == 0 && RemainingMs(deadline) == 0) {
            break;
        }
    }
    return static_cast<int>(done);
}

void SimPort::DiscardInput() {
    uint8_t scratch[256];
    while (Read(scratch, sizeof scratch, 0) > 0) {
    }
}

int SimPort::WriteSome(const uint8_t *buffer, size_t length) {
    size_t done = 0;
    while (done < length) {
        const ssize_t count = write(masterFd_, buffer + done, length - done);
        if (count > 0) {
            done += static_cast<size_t>(count);
            continue;
        }
        if (count < 0 && errno != EAGAIN && errno != EINTR) {
            ReportSystemError("write to the simulated line");
            return -1;
        }
        if (count < 0 && errno == EAGAIN && WaitFor(masterFd_, POLLOUT, kWriteStallMs) <= 0) {
            ReportError("the tool has not read %s for %d ms", slavePath_.c_str(), kWriteStallMs);
            return -1;
        }
    }
    return static_cast<int>(done);
}

int SimPort::Offer(const uint8_t *buffer, size_t length) {
    if (hungUp_) {
        return -1;
    }
    const ssize_t count = length == 0 ? 0 : write(masterFd_, buffer, length);
    if (count < 0) {
        return errno == EAGAIN || errno == EINTR ? 0 : -1;
    }
    Record(PortSide::Simulator, buffer, static_cast<size_t>(count));
    return static_cast<int>(count);
}

void SimPort::HangUp() {
    if (!hungUp_.exchange(true)) {
        close(masterFd_);
    }
}

Clock::time_point SimPort::ReadyToSend() const {
    const Clock::time_point now = Clock::now();
    const Clock::time_point handedOver{Clock::duration(handedOverAt_.load())};
    return now - handedOver < kReactionWindow ? handedOver : now;
}

int SimPort::Write(const uint8_t *buffer, size_t length) {
    if (hungUp_) {
        return -1;
    }
    Record(PortSide::Simulator, buffer, length);
    const uint32_t lineRate = lineRate_;
    if (lineRate == 0) {
        return WriteSome(buffer, length);
    }
    // Whole milliseconds of line time per piece: fine enough for time-outs, few enough wake-ups. A piece goes
    // to the tool when its last byte would have arrived, never before; the schedule starts where the line's
    // last write ended if that is still ahead.
    const size_t chunk = std::max<size_t>(1, lineRate / 1000);
    const Clock::time_point start = std::max(simulatorLineFreeAt_, ReadyToSend());
    for (size_t done = 0; done < length;) {
        const size_t count = std::min(chunk, length - done);
        SleepUntil(start + LineTime(done + count, lineRate));
        if (WriteSome(buffer + done, count) < 0) {
            return -1;
        }
        done += count;
    }
    simulatorLineFreeAt_ = start + LineTime(length, lineRate);
    return static_cast<int>(length);
}

std::vector<PortLogEntry> SimPort::Log() const {
    std::lock_guard<std::mutex> hold(logLock_);
    return log_;
}

std::vector<uint8_t> SimPort::BytesFrom(PortSide side) const {
    std::lock_guard<std::mutex> hold(logLock_);
    std::vector<uint8_t> bytes;
    for (const PortLogEntry &entry : log_) {
        if (entry.side == side) {
            bytes.insert(bytes.end(), entry.bytes.begin(), entry.bytes.end());
        }
    }
    return bytes;
}

LineFloor FloorOf(const std::vector<PortLogEntry> &log, uint32_t bytesPerSecond, std::chrono::nanoseconds waits) {
    LineFloor floor;
    for (const PortLogEntry &entry : log) {
        (entry.side == PortSide::Tool ? floor.toolBytes : floor.simulatorBytes) += entry.bytes.size();
    }
    floor.wire = bytesPerSecond == 0 ? std::chrono::nanoseconds(0)
                                     : LineTime(floor.toolBytes + floor.simulatorBytes, bytesPerSecond);
    floor.waits = waits;
    return floor;
}

std::string DescribeFloor(const LineFloor &floor, uint32_t bytesPerSecond, std::chrono::nanoseconds wall) {
    const auto seconds = [](std::chrono::nanoseconds span) { return std::chrono::duration<double>(span).count(); };
    char text[256];
    snprintf(text, sizeof text,
             "floor %.2f s (%zu bytes from the tool, %zu to it at %u B/s: %.2f s; waits %.2f s); wall %.2f s = "
             "%.3fx the floor",
             seconds(floor.Total()), floor.toolBytes, floor.simulatorBytes, bytesPerSecond, seconds(floor.wire),
             seconds(floor.waits), seconds(wall),
             floor.Total().count() > 0 ? seconds(wall) / seconds(floor.Total()) : 0.0);
    return text;
}

} // namespace tarn::bench
