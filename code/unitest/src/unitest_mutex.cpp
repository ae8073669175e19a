// The mutex self-test: test1 takes the lock once a second, test2 holds it for five seconds in between.
#include "tarn_console.h"
#include "tarn_handle.h"
#include "tarn_mutex.h"
#include "tarn_time.h"
#include "unitest.h"

namespace {

void *LockEachRound(void *arg) {
    auto *mutex = static_cast<Mutex *>(arg);
    for (int round = 0; round < 5; ++round) {
        mutex->Lock(mutex);
        TARN_INFO("===== test1 %d.\n", round);
        mutex->Unlock(mutex);
        Time_SleepUs(kUnitestSecondUs);
    }
    TARN_INFO("'test1' thread exit.\n");
    return nullptr;
}

void *HoldForFiveRounds(void *arg) {
    auto *mutex = static_cast<Mutex *>(arg);
    mutex->Lock(mutex);
    Unitest_CountFive("###### test2");
    mutex->Unlock(mutex);
    TARN_INFO("'test2' thread exit.\n");
    return nullptr;
}

} // namespace

int Unitest_Mutex() {
    OwnedHandle<Mutex, Mutex_Delete> mutex;
    const MutexParam param{"test"};
    if (Mutex_Create(mutex.Address(), &param) != 0) {
        TARN_ERR("Mutex_Create \n");
        return -1;
    }
    return Unitest_RunPair(mutex.Get(), LockEachRound, HoldForFiveRounds, 0);
}
