// The semaphore self-test: test1 gives up a short wait and counts; test2 starts three seconds later and posts.
#include <cstdint>

#include "tarn_console.h"
#include "tarn_handle.h"
#include "tarn_sem.h"
#include "tarn_thread.h"
#include "tarn_time.h"
#include "unitest.h"

namespace {

constexpr uint64_t kOneSecondUs = 1000000;
constexpr uint64_t kTest2DelayUs = 3 * kOneSecondUs;
constexpr uint32_t kTest1WaitMs = 2;

void *WaitThenCount(void *arg) {
    auto *sem = static_cast<Sem *>(arg);
    sem->TimedWait(sem, kTest1WaitMs);
    for (int round = 0; round < 5; ++round) {
        TARN_INFO("===== test1 %d.\n", round);
        Time_SleepUs(kOneSecondUs);
    }
    TARN_INFO("'test1' thread exit.\n");
    return nullptr;
}

void *CountThenPost(void *arg) {
    auto *sem = static_cast<Sem *>(arg);
    for (int round = 0; round < 5; ++round) {
        TARN_INFO("###### test2 %d.\n", round);
        Time_SleepUs(kOneSecondUs);
    }
    sem->Post(sem);
    TARN_INFO("'test2' thread exit.\n");
    return nullptr;
}

} // namespace

int Unitest_Sem() {
    OwnedHandle<Sem, Sem_Delete> sem;
    const SemParam semParam{"test", 0};
    if (Sem_Create(sem.Address(), &semParam) != 0) {
        TARN_ERR("Sem_Create \n");
        return -1;
    }
    OwnedHandle<Thread, Thread_Delete> test1;
    const ThreadParam test1Param{"test1", sem.Get(), WaitThenCount};
    if (Thread_Create(test1.Address(), &test1Param) != 0) {
        TARN_ERR("Thread_Create \n");
        return -1;
    }
    Time_SleepUs(kTest2DelayUs);
    OwnedHandle<Thread, Thread_Delete> test2;
    const ThreadParam test2Param{"test2", sem.Get(), CountThenPost};
    if (Thread_Create(test2.Address(), &test2Param) != 0) {
        TARN_ERR("Thread_Create \n");
        // test1 uses the semaphore until its end.
        test1->WaitExit(test1.Get());
        return -1;
    }
    test1->WaitExit(test1.Get());
    test2->WaitExit(test2.Get());
    return 0;
}
