#include "tarn_time.h"

#include <cerrno>
#include <ctime>

namespace {

timespec MonotonicNow() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now;
}

} // namespace

uint32_t Time_GetSec() {
    return static_cast<uint32_t>(MonotonicNow().tv_sec);
}

uint32_t Time_GetMs() {
    const timespec now = MonotonicNow();
    return static_cast<uint32_t>(static_cast<uint64_t>(now.tv_sec) * 1000u +
                                 static_cast<uint64_t>(now.tv_nsec) / 1000000u);
}

timespec Time_MonotonicAfterUs(uint64_t microseconds) {
    timespec deadline = MonotonicNow();
    const uint64_t nanoseconds = static_cast<uint64_t>(deadline.tv_nsec) + microseconds % 1000000u * 1000u;
    deadline.tv_sec += static_cast<time_t>(microseconds / 1000000u + nanoseconds / 1000000000u);
    deadline.tv_nsec = static_cast<long>(nanoseconds % 1000000000u);
    return deadline;
}

void Time_SleepUs(uint64_t microseconds) {
    timespec remaining{};
    remaining.tv_sec = static_cast<time_t>(microseconds / 1000000u);
    remaining.tv_nsec = static_cast<long>(microseconds % 1000000u) * 1000;
    while (nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {
    }
}
