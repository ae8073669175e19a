// The mutex self-test: test1 takes the lock once a second, test2 holds it for five seconds in between.
#include <cstdint>

#include "tarn_console.h"
#include "tarn_handle.h"
#include "tarn_mutex.h"
#include "tarn_thread.h"
#include "tarn_time.h"
#include "unitest.h"

namespace {

constexpr uint64_t kOneSecondUs = 1000000;

void *LockEachRound(void *arg) {
    auto *mutex = static_cast<Mutex *>(arg);
    for (int round = 0; round < 5; ++round) {
        mutex->Lock(mutex);
        TARN_INFO("===== test1 %d.\n", round);
        mutex->Unlock(mutex);
        Time_SleepUs(kOneSecondUs);
    }
    TARN_INFO("'test1' thread exit.\n");
    return nullptr;
}

void *HoldForFiveRounds(void *arg) {
    auto *mutex = static_cast<Mutex *>(arg);
    mutex->Lock(mutex);
    for (int round = 0; round < 5; ++round) {
        TARN_INFO("###### test2 %d.\n", round);
        Time_SleepUs(kOneSecondUs);
    }
    mutex->Unlock(mutex);
    TARN_INFO("'test2' thread exit.\n");
    return nullptr;
}

} // namespace

int Unitest_Mutex() {
    OwnedHandle<Mutex, Mutex_Delete> mutex;
    const MutexParam mutexParam{"test"};
    if (Mutex_Create(mutex.Address(), &mutexParam) != 0) {
        TARN_ERR("Mutex_Create \n");
        return -1;
    }
    OwnedHandle<Thread, Thread_Delete> test1;
    const ThreadParam test1Param{"test1", mutex.Get(), LockEachRound};
    if (Thread_Create(test1.Address(), &test1Param) != 0) {
        TARN_ERR("Thread_Create \n");
        return -1;
    }
    OwnedHandle<Thread, Thread_Delete> test2;
    const ThreadParam test2Param{"test2", mutex.Get(), HoldForFiveRounds};
    if (Thread_Create(test2.Address(), &test2Param) != 0) {
        TARN_ERR("Thread_Create \n");
        // test1 uses the mutex until its end.
        test1->WaitExit(test1.Get());
        return -1;
    }
    test1->WaitExit(test1.Get());
    test2->WaitExit(test2.Get());
    return 0;
}
