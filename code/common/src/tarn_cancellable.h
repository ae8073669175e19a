// Receive and handler threads run with cancellation disabled and open it only around a blocking wait, where
// they hold no lock: a cancelled thread runs no destructors, so it must not die anywhere else.
#pragma once

#include <cstdint>
#include <pthread.h>

#include "tarn_time.h"

namespace tarn {

// Disables cancellation for the calling thread: the first thing such a thread does.
inline void DisableCancellation() {
    int previous = 0;
    pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, &previous);
}

// Runs wait() with cancellation enabled and returns its result.
template <typename Wait> auto Cancellable(Wait wait) {
    int previous = 0;
    pthread_setcancelstate(PTHREAD_CANCEL_ENABLE, &previous);
    const auto result = wait();
    pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, &previous);
    return result;
}

// A pause in which the thread may be cancelled.
inline void CancellableSleepUs(uint64_t microseconds) {
    Cancellable([microseconds] {
        Time_SleepUs(microseconds);
        return 0;
    });
}

} // namespace tarn
