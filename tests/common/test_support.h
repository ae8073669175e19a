// Small helpers that the unit and the integration tests share.
//
// Timing rules of this suite: a test never sleeps and then asserts; it waits for the condition it needs with
// WaitUntil, and an absence ("nothing was sent", "no line was printed") is checked only after a positive event
// proves that the other side has acted. A lower bound allows for clock granularity: a wait that the product
// counts in whole milliseconds of Time_GetMs can take a fraction of a millisecond less than N real ones, so N ms
// by the product is N - 1 by MillisecondsSince (or measure with Time_GetMs too). Upper bounds are generous: the
// suite runs under sanitizers, qemu-user and a loaded machine.
#pragma once

#include <chrono>
#include <cstdint>
#include <fstream>
#include <string>
#include <sys/syscall.h>
#include <sys/types.h>
#include <thread>
#include <vector>

namespace test_support {

using Clock = std::chrono::steady_clock;

inline long long MillisecondsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// Long enough for any wait on a loaded machine under a sanitizer, short enough to fail a hung test quickly.
constexpr std::chrono::milliseconds kWaitLimit{10000};

// Polls condition until it holds (true) or limit has passed (false); the condition gets a last look after the
// limit, so a slow poll never turns a success into a failure.
template <typename Condition> bool WaitUntil(Condition condition, std::chrono::milliseconds limit = kWaitLimit) {
    const Clock::time_point deadline = Clock::now() + limit;
    for (;;) {
        if (condition()) {
            return true;
        }
        if (Clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

// True while the process or thread id sits in a sleep call: it has passed whatever came before that sleep.
inline bool SleepsInTheKernel(pid_t id) {
    std::ifstream syscall("/proc/" + std::to_string(id) + "/syscall");
    long number = -1;
    return syscall >> number && (number == SYS_clock_nanosleep
#ifdef SYS_nanosleep
                                 || number == SYS_nanosleep
#endif
                                );
}

// True while the thread waits on a lock or a condition variable.
inline bool WaitsOnAFutex(pid_t id) {
    std::ifstream syscall("/proc/" + std::to_string(id) + "/syscall");
    long number = -1;
    return syscall >> number && number == SYS_futex;
}

// The payload of a whole mlink frame as it went over the line: after the five header bytes, before the checksum.
inline std::vector<uint8_t> MlinkPayloadOf(const std::vector<uint8_t> &frame) {
    return std::vector<uint8_t>(frame.begin() + 5, frame.end() - 1);
}

} // namespace test_support
