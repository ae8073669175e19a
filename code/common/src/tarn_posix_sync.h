// A mutex and a condition variable straight over the POSIX calls. The standard library's versions report
// failures by throwing, which would pull the exception machinery and its demangler into a static binary that
// never throws; these have the same shape (std::lock_guard works with PosixMutex) and none of that weight.
#pragma once

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
    PosixCondition() = default;
    ~PosixCondition() { pthread_cond_destroy(&condition_); }
    PosixCondition(const PosixCondition &) = delete;
    PosixCondition &operator=(const PosixCondition &) = delete;

    // The caller holds mutex; waits until done() holds, releasing mutex while it waits.
    template <typename Predicate> void Wait(PosixMutex &mutex, Predicate done) {
        while (!done()) {
            pthread_cond_wait(&condition_, mutex.native());
        }
    }
    void NotifyAll() { pthread_cond_broadcast(&condition_); }

private:
    pthread_cond_t condition_ = PTHREAD_COND_INITIALIZER;
};
