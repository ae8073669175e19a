// The thread self-test: one thread whose identifier and name are queried while it counts.
#include <cstdint>

#include "tarn_console.h"
#include "tarn_handle.h"
#include "tarn_thread.h"
#include "tarn_time.h"
#include "unitest.h"

namespace {

constexpr uint64_t kOneSecondUs = 1000000;

void *CountFiveSeconds(void *) {
    for (int step = 0; step < 5; ++step) {
        TARN_INFO("test %d.\n", step);
        Time_SleepUs(kOneSecondUs);
    }
    TARN_INFO("'test' thread exit.\n");
    return nullptr;
}

} // namespace

int Unitest_Thread() {
    OwnedHandle<Thread, Thread_Delete> thread;
    const ThreadParam param{"test", nullptr, CountFiveSeconds};
    if (Thread_Create(thread.Address(), &param) != 0) {
        TARN_ERR("Thread_Create \n");
        return -1;
    }
    uint32_t tid = 0;
    if (thread->GetTid(thread.Get(), &tid) != 0) {
        TARN_ERR("get tid fail.\n");
    } else {
        TARN_INFO("thread id = %d.\n", static_cast<int>(tid));
    }
    char name[32] = {};
    if (thread->GetName(thread.Get(), name) != 0) {
        TARN_ERR("get tid fail.\n");
    } else {
        TARN_INFO("thread name = %s.\n", name);
    }
    thread->WaitExit(thread.Get());
    return 0;
}
