#include "tarn_thread.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <mutex>
#include <new>
#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "tarn_console.h"
#include "tarn_object_name.h"
#include "tarn_posix_sync.h"

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TARN_ADDRESS_SANITIZER 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define TARN_ADDRESS_SANITIZER 1
#endif
#if defined(TARN_ADDRESS_SANITIZER)
#include <sanitizer/asan_interface.h>
#endif

struct ThreadPrivate {
    Thread object;
    // Fixed before the thread runs its function.
    ObjectName name;
    uint32_t tid = 0;
    pthread_t handle{};
    // Owned by the creating thread, the only one that probes, joins, stops or deletes.
    bool joined = false;
    // Joined by IsAlive after it had ended; the next WaitExit reports that end instead of joining.
    bool endNotCollected = false;
};

namespace {

enum class StartStage { kStarting, kTidStored, kGo, kLeft };

// Lives on Thread_Create's stack; the new thread's last touch is the unlock after kLeft.
struct StartGate {
    PosixMutex lock;
    PosixCondition changed;
    StartStage stage = StartStage::kStarting; // guarded by lock
    ThreadPrivate *thread = nullptr;
    void *(*function)(void *) = nullptr;
    void *argument = nullptr;
};

// A cancelled thread unwinds without running its functions' epilogues, so AddressSanitizer's marks on their
// stack frames stay behind and its own thread teardown, which runs on the same stack, trips over them.
void ClearStackAfterCancel(void *) {
#if defined(TARN_ADDRESS_SANITIZER)
    pthread_attr_t attributes;
    if (pthread_getattr_np(pthread_self(), &attributes) == 0) {
        void *base = nullptr;
        size_t size = 0;
        if (pthread_attr_getstack(&attributes, &base, &size) == 0) {
            __asan_unpoison_memory_region(base, size);
        }
        pthread_attr_destroy(&attributes);
    }
#endif
}

void *RunThread(void *opaque) {
    auto *gate = static_cast<StartGate *>(opaque);
    void *(*function)(void *) = nullptr;
    void *argument = nullptr;
    {
        std::lock_guard<PosixMutex> hold(gate->lock);
        function = gate->function;
        argument = gate->argument;
        gate->thread->tid = static_cast<uint32_t>(syscall(SYS_gettid));
        gate->stage = StartStage::kTidStored;
        gate->changed.NotifyAll();
        gate->changed.Wait(gate->lock, [gate] { return gate->stage == StartStage::kGo; });
        gate->stage = StartStage::kLeft;
        gate->changed.NotifyAll();
    }
    void *result = nullptr;
    pthread_cleanup_push(ClearStackAfterCancel, nullptr);
    result = function(argument);
    pthread_cleanup_pop(0);
    return result;
}

int IsAlive(Thread *pThread) {
    ThreadPrivate *thread = pThread->pPrivate;
    if (thread->joined) {
        return 0;
    }
    // The C library keeps answering the signal probe for an ended thread until it is joined, so an ended
    // thread is joined here to read as gone.
    if (pthread_tryjoin_np(thread->handle, nullptr) == 0) {
        thread->joined = true;
        thread->endNotCollected = true;
        return 0;
    }
    switch (pthread_kill(thread->handle, 0)) {
        case ESRCH:
            return 0;
        case EINVAL:
            return -1;
        default:
            return 1;
    }
}

int GetName(Thread *pThread, char *pName) {
    const ObjectName &name = pThread->pPrivate->name;
    memcpy(pName, name.data(), strlen(name.data()));
    return 0;
}

int GetTid(Thread *pThread, uint32_t *pTid) {
    *pTid = pThread->pPrivate->tid;
    return 0;
}

} // namespace

int Thread_Create(Thread **ppThread, const ThreadParam *pParam) {
    TARN_ASSERT(ppThread);
    TARN_ASSERT(pParam);
    TARN_ASSERT(pParam->pName);
    TARN_ASSERT(pParam->pFun);

    auto *thread = new (std::nothrow) ThreadPrivate{};
    if (thread == nullptr) {
        TARN_ERR("malloc fail.\n");
        return -1;
    }
    thread->object = {thread, IsAlive, GetName, GetTid, Thread_WaitExit};
    thread->name = MakeObjectName(pParam->pName);

    StartGate gate;
    gate.thread = thread;
    gate.function = pParam->pFun;
    gate.argument = pParam->pArg;
    if (pthread_create(&thread->handle, nullptr, RunThread, &gate) != 0) {
        TARN_ERR("create thread fail.\n");
        delete thread;
        return -1;
    }
    std::lock_guard<PosixMutex> hold(gate.lock);
    gate.changed.Wait(gate.lock, [&gate] { return gate.stage == StartStage::kTidStored; });
    *ppThread = &thread->object;
    TARN_INFO("create thread '%s' success.\n", thread->name.data());
    gate.stage = StartStage::kGo;
    gate.changed.NotifyAll();
    gate.changed.Wait(gate.lock, [&gate] { return gate.stage == StartStage::kLeft; });
    return 0;
}

int Thread_WaitExit(Thread *pThread) {
    ThreadPrivate *thread = pThread->pPrivate;
    if (thread->endNotCollected) {
        thread->endNotCollected = false;
        return 0;
    }
    if (thread->joined || pthread_join(thread->handle, nullptr) != 0) {
        TARN_ERR("wait thread exit fail.\n");
        return -1;
    }
    thread->joined = true;
    return 0;
}

int Thread_Stop(Thread *pThread) {
    ThreadPrivate *thread = pThread->pPrivate;
    if (thread->joined) {
        return 0;
    }
    pthread_cancel(thread->handle);
    return Thread_WaitExit(pThread);
}

void Thread_Delete(Thread **ppThread) {
    TARN_ASSERT(ppThread);
    Thread *object = *ppThread;
    if (object == nullptr) {
        return;
    }
    ThreadPrivate *thread = object->pPrivate;
    // IsAlive joins a thread that has ended; one still running is cancelled and left to end on its own.
    if (!thread->joined && IsAlive(object) != 0) {
        pthread_cancel(thread->handle);
    }
    if (!thread->joined) {
        // Nobody joins it now: its resources go back when it ends.
        pthread_detach(thread->handle);
    }
    delete thread;
    *ppThread = nullptr;
}
