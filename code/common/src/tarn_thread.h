// Named threads as handle objects. Thread_Create returns only after the new thread has stored its kernel
// thread id and the "create thread" line is printed, and the thread function runs only after that.
#pragma once

#include <cstdint>
#include <pthread.h>

struct ThreadParam {
    const char *pName;
    void *pArg;
    void *(*pFun)(void *pArg);
};

struct ThreadPrivate;

// Used only from the thread that created it.
struct Thread {
    ThreadPrivate *pPrivate;
    // 1 while the thread exists, 0 once it is gone (or joined), -1 for an invalid handle.
    int (*IsAlive)(Thread *pThread);
    // Copies the name without a terminating zero into a zero-filled buffer of at least 32 bytes.
    int (*GetName)(Thread *pThread, char *pName);
    int (*GetTid)(Thread *pThread, uint32_t *pTid);
    int (*WaitExit)(Thread *pThread);
};

int Thread_Create(Thread **ppThread, const ThreadParam *pParam);
// Cancels a thread that was not joined and is still alive, releases it without joining.
void Thread_Delete(Thread **ppThread);
int Thread_WaitExit(Thread *pThread);
// Cancels the thread and waits for its end: for owners that free what the thread uses right afterwards.
// A cancelled thread runs no destructors, so its function may be cancellable only where it holds no lock.
int Thread_Stop(Thread *pThread);
