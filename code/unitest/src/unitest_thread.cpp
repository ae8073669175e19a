// The thread self-test: one thread whose identifier and name are queried while it counts.
#include <cstdint>

#include "tarn_console.h"
#include "tarn_handle.h"
#include "tarn_thread.h"
#include "unitest.h"

namespace {

void *CountFiveSeconds(void *) {
    Unitest_CountFive("test");
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
