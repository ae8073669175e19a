// A mutex and a condition variable straight over the POSIX calls. The standard library's versions report
// failures by throwing, which would pull the exception machinery and its demangler into a static binary that
// never throws; these have the same shape (std::lock_guard works with PosixMutex) and none of that weight.
#pragma once

#include <cerrno>
#include <ctime>
#include <mutex> // std::lock_guard only: it works with any lockable and never throws
#include <pthread.h>

class PosixMutex {
public:
    PosixMutex() = default;
    ~PosixMutex() { pthread_mutex_destroy(&mutex_); }
    PosixMutex(const PosixMutex &) = delete;
    PosixMutex &operator=(const PosixMutex &) = delete;

    void lock() { pthread_mutex_lock(&mutex_); }
    bool try_lock() { return pthread_mutex_trylock(&mutex_) == 0; }
    void unlock() { pthread_mutex_unlock(&mutex_); }
    pthread_mutex_t *native() { return &mutex_; }

private:
    pthread_mutex_t mutex_ = PTHREAD_MUTEX_INITIALIZER;
};

class PosixCondition {
public:
    // Timed waits count on the monotonic clock: a wall clock stepped meanwhile neither ends nor stretches them.
    PosixCondition() {
        pthread_condattr_t attributes;
        pthread_condattr_init(&attributes);
        pthread_condattr_setclock(&attributes, CLOCK_MONOTONIC);
        pthread_cond_init(&condition_, &attributes);
        pthread_condattr_destroy(&attributes);
    }
    ~PosixCondition() { pthread_cond_destroy(&condition_); }
    PosixCondition(const PosixCondition &) = delete;
    PosixCondition &operator=(const PosixCondition &) = delete;

    // The caller holds mutex; waits until done() holds, releasing mutex while it waits.
    template <typename Predicate> void Wait(PosixMutex &mutex, Predicate done) {
        while (!done()) {
            pthread_cond_wait(&condition_, mutex.native());
        }
    }
    // As Wait, but gives up when the monotonic clock reaches deadline (Time_MonotonicAfterUs); returns done().
    template <typename Predicate> bool WaitUntil(PosixMutex &mutex, const timespec &deadline, Predicate done) {
        while (!done()) {
            if (pthread_cond_timedwait(&condition_, mutex.native(), &deadline) == ETIMEDOUT) {
                return done();
            }
        }
        return true;
    }
    void NotifyAll() { pthread_cond_broadcast(&condition_); }

private:
    pthread_cond_t condition_;
};
