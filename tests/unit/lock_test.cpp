// Mutexes and semaphores: exclusion between threads, TryLock, the semaphore waits and their time-outs.
#include <gtest/gtest.h>

#include <chrono>
#include <climits>
#include <string>
#include <thread>

#include "console_capture.h"
#include "tarn_handle.h"
#include "tarn_mutex.h"
#include "tarn_sem.h"
#include "test_support.h"

namespace {

using test_support::Clock;
using test_support::MillisecondsSince;

TEST(Mutex, CreateLineAndTryLockFromAnotherThread) {
    OwnedHandle<Mutex, Mutex_Delete> mutex;
    MutexParam param{"mlink"};
    StdoutCapture capture;
    ASSERT_EQ(Mutex_Create(mutex.Address(), &param), 0);
    EXPECT_EQ(WithoutLocations(capture.Finish()), InfoLine("create mutex 'mlink' sucess.\n"));

    ASSERT_EQ(mutex->Lock(mutex.Get()), 0);
    int whileHeld = 0;
    long long triedForMs = 0;
    std::thread([&] {
        const Clock::time_point start = Clock::now();
        whileHeld = mutex->TryLock(mutex.Get());
        triedForMs = MillisecondsSince(start);
    }).join();
    EXPECT_EQ(whileHeld, -1);
    EXPECT_LT(triedForMs, 1000);

    ASSERT_EQ(mutex->Unlock(mutex.Get()), 0);
    int whileFree = -1;
    std::thread([&] {
        whileFree = mutex->TryLock(mutex.Get());
        if (whileFree == 0) {
            mutex->Unlock(mutex.Get());
        }
    }).join();
    EXPECT_EQ(whileFree, 0);
}

TEST(Mutex, LockExcludesOtherThreads) {
    OwnedHandle<Mutex, Mutex_Delete> mutex;
    MutexParam param{"counter"};
    ASSERT_EQ(Mutex_Create(mutex.Address(), &param), 0);
    long counter = 0;
    auto add = [&] {
        for (int round = 0; round < 100000; ++round) {
            mutex->Lock(mutex.Get());
            counter = counter + 1;
            mutex->Unlock(mutex.Get());
        }
    };
    std::thread first(add);
    std::thread second(add);
    first.join();
    second.join();
    EXPECT_EQ(counter, 200000);
}

class SemTest : public testing::Test {
protected:
    void Create(uint32_t value) {
        SemParam param{"test", value};
        StdoutCapture capture;
        ASSERT_EQ(Sem_Create(sem.Address(), &param), 0);
        EXPECT_EQ(WithoutLocations(capture.Finish()), InfoLine("create sem 'test' sucess.\n"));
    }
    // How long TimedWait took, in milliseconds; it must return 0 whatever happened.
    long long TimedWaitMs(uint32_t milliseconds) {
        const Clock::time_point start = Clock::now();
        EXPECT_EQ(sem->TimedWait(sem.Get(), milliseconds), 0);
        return MillisecondsSince(start);
    }
    OwnedHandle<Sem, Sem_Delete> sem;
};

TEST_F(SemTest, TimedWaitOnZeroWaitsTheWholeTimeOrNotAtAll) {
    Create(0);
    long long waited = TimedWaitMs(1500);
    EXPECT_GE(waited, 1450);
    EXPECT_LT(waited, 6000);
    // 999 ms carries the milliseconds into the seconds of the deadline on almost every start time.
    waited = TimedWaitMs(999);
    EXPECT_GE(waited, 950);
    EXPECT_LT(waited, 5000);
    EXPECT_LT(TimedWaitMs(0), 500);
}

TEST_F(SemTest, TimedWaitAndTryWaitTakeOnlyWhatIsThere) {
    Create(1);
    EXPECT_LT(TimedWaitMs(1500), 500);
    EXPECT_GE(TimedWaitMs(200), 190);

    const Clock::time_point start = Clock::now();
    EXPECT_EQ(sem->TryWait(sem.Get()), 0);
    EXPECT_LT(MillisecondsSince(start), 500);
    EXPECT_EQ(sem->Post(sem.Get()), 0);
    EXPECT_EQ(sem->TryWait(sem.Get()), 0);
    EXPECT_GE(TimedWaitMs(200), 190);
}

TEST_F(SemTest, PostFromAnotherThreadWakesWait) {
    Create(0);
    const Clock::time_point start = Clock::now();
    std::thread poster([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        sem->Post(sem.Get());
    });
    EXPECT_EQ(sem->Wait(sem.Get()), 0);
    const long long waited = MillisecondsSince(start);
    poster.join();
    EXPECT_GE(waited, 90);
    EXPECT_LT(waited, 5000);
}

TEST(Sem, RefusedInitialCountLeavesTheHandle) {
    Sem *sem = nullptr;
    SemParam param{"too-many", static_cast<uint32_t>(INT_MAX) + 1u};
    StdoutCapture capture;
    EXPECT_EQ(Sem_Create(&sem, &param), -1);
    EXPECT_EQ(WithoutLocations(capture.Finish()), SyserrLine("sem_init", "Invalid argument"));
    EXPECT_EQ(sem, nullptr);
}

} // namespace
