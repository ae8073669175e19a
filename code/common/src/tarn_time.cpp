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

void Time_SleepUs(uint64_t microseconds) {
    timespec remaining{};
    remaining.tv_sec = static_cast<time_t>(microseconds / 1000000u);
    remaining.tv_nsec = static_cast<long>(microseconds % 1000000u) * 1000;
    while (nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {
    }
}
