// Threads: the start handshake (create line first, tid set), names, liveness, joining, cancelling.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <pthread.h>
#include <string>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>

#include "console_capture.h"
#include "tarn_thread.h"
#include "test_support.h"

namespace {

std::atomic<uint32_t> gReportedTid{0};

void *PrintAndReportTid(void *arg) {
    gReportedTid = static_cast<uint32_t>(syscall(SYS_gettid));
    printf("%s\n", static_cast<const char *>(arg));
    return nullptr;
}

void *SleepForever(void *) {
    for (;;) {
        usleep(10000);
    }
    return nullptr;
}

// What a cancellable worker shows of itself: that it runs, and that its cancellation clean-up has run.
struct Progress {
    std::atomic<int> rounds{0};
    std::atomic<bool> ended{false};
};

void MarkEnded(void *arg) {
    static_cast<Progress *>(arg)->ended = true;
}

void *CountUntilCancelled(void *arg) {
    auto *progress = static_cast<Progress *>(arg);
    pthread_cleanup_push(MarkEnded, arg);
    for (;;) {
        ++progress->rounds;
        usleep(5000);
    }
    pthread_cleanup_pop(0);
    return nullptr;
}

TEST(Thread, CreateLineComesFirstAndTidIsSetBeforeCreateReturns) {
    char greeting[] = "thread body runs";
    ThreadParam param{"worker", greeting, PrintAndReportTid};
    Thread *thread = nullptr;

    StdoutCapture capture;
    ASSERT_EQ(Thread_Create(&thread, &param), 0);
    ASSERT_NE(thread, nullptr);
    uint32_t tid = 0;
    EXPECT_EQ(thread->GetTid(thread, &tid), 0);
    EXPECT_EQ(thread->WaitExit(thread), 0);
    const std::string output = capture.Finish();

    EXPECT_EQ(tid, gReportedTid.load());
    EXPECT_NE(tid, static_cast<uint32_t>(syscall(SYS_gettid)));
    EXPECT_EQ(WithoutLocations(output), InfoLine("create thread 'worker' success.\n") + "thread body runs\n");
    Thread_Delete(&thread);
    EXPECT_EQ(thread, nullptr);
}

TEST(Thread, LongNameIsCutTo31Characters) {
    const std::string name40 = "receive_thread_of_the_gimbal_board_link_";
    ASSERT_EQ(name40.size(), 40u);
    const std::string name31 = name40.substr(0, 31);
    ThreadParam param{name40.c_str(), nullptr, SleepForever};
    Thread *thread = nullptr;

    StdoutCapture capture;
    ASSERT_EQ(Thread_Create(&thread, &param), 0);
    EXPECT_EQ(WithoutLocations(capture.Finish()), InfoLine("create thread '" + name31 + "' success.\n"));

    char buffer[48];
    memset(buffer, 'Z', sizeof buffer);
    EXPECT_EQ(thread->GetName(thread, buffer), 0);
    // The characters only: no terminating zero is written.
    EXPECT_EQ(std::string(buffer, 32), name31 + "Z");
    Thread_Delete(&thread);
}

TEST(Thread, IsAliveFollowsTheThreadsLifeAndItsEndIsReportedOnce) {
    std::atomic<bool> release{false};
    auto waitForRelease = [](void *arg) -> void * {
        while (!static_cast<std::atomic<bool> *>(arg)->load()) {
            usleep(1000);
        }
        return nullptr;
    };
    ThreadParam param{"short", &release, waitForRelease};
    Thread *thread = nullptr;
    ASSERT_EQ(Thread_Create(&thread, &param), 0);
    EXPECT_EQ(thread->IsAlive(thread), 1);

    // An ended thread reads as gone before anyone joins it.
    release = true;
    EXPECT_TRUE(test_support::WaitUntil([&] { return thread->IsAlive(thread) == 0; }));

    EXPECT_EQ(thread->WaitExit(thread), 0);
    EXPECT_EQ(thread->IsAlive(thread), 0);
    StdoutCapture capture;
    EXPECT_EQ(thread->WaitExit(thread), -1);
    EXPECT_EQ(WithoutLocations(capture.Finish()), ErrorLine("wait thread exit fail.\n"));
    Thread_Delete(&thread);
    EXPECT_EQ(thread, nullptr);
}

TEST(Thread, DeleteCancelsARunningThread) {
    Progress progress;
    ThreadParam param{"endless", &progress, CountUntilCancelled};
    Thread *thread = nullptr;
    ASSERT_EQ(Thread_Create(&thread, &param), 0);
    ASSERT_TRUE(test_support::WaitUntil([&] { return progress.rounds.load() >= 3; }));
    Thread_Delete(&thread);
    EXPECT_EQ(thread, nullptr);

    // Delete does not wait: cancellation takes effect at the thread's next sleep, where its clean-up runs.
    EXPECT_TRUE(test_support::WaitUntil([&] { return progress.ended.load(); }));
}

TEST(Thread, StopReturnsOnlyAfterTheThreadHasEnded) {
    Progress progress;
    ThreadParam param{"stopped", &progress, CountUntilCancelled};
    Thread *thread = nullptr;
    ASSERT_EQ(Thread_Create(&thread, &param), 0);
    ASSERT_TRUE(test_support::WaitUntil([&] { return progress.rounds.load() >= 1; }));
    EXPECT_FALSE(progress.ended.load());

    EXPECT_EQ(Thread_Stop(thread), 0);
    EXPECT_TRUE(progress.ended.load());
    EXPECT_EQ(thread->IsAlive(thread), 0);
    EXPECT_EQ(Thread_Stop(thread), 0);
    Thread_Delete(&thread);
    EXPECT_EQ(thread, nullptr);
}

} // namespace
