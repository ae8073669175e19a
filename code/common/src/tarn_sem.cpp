#include "tarn_sem.h"

#include <cerrno>
#include <ctime>
#include <new>
#include <semaphore.h>

#include "tarn_console.h"
#include "tarn_object_name.h"

struct SemPrivate {
    Sem object;
    ObjectName name; // fixed at creation
    sem_t semaphore{};
};

namespace {

constexpr long kNanosecondsPerSecond = 1000000000L;

int Post(Sem *pSem) {
    sem_post(&pSem->pPrivate->semaphore);
    return 0;
}

int Wait(Sem *pSem) {
    while (sem_wait(&pSem->pPrivate->semaphore) != 0 && errno == EINTR) {
    }
    return 0;
}

int TimedWait(Sem *pSem, uint32_t milliseconds) {
    timespec deadline{};
    clock_gettime(CLOCK_REALTIME, &deadline);
    deadline.tv_sec += static_cast<time_t>(milliseconds / 1000);
    deadline.tv_nsec += static_cast<long>(milliseconds % 1000) * 1000000L;
    if (deadline.tv_nsec >= kNanosecondsPerSecond) {
        deadline.tv_sec += 1;
        deadline.tv_nsec -= kNanosecondsPerSecond;
    }
    while (sem_timedwait(&pSem->pPrivate->semaphore, &deadline) != 0 && errno == EINTR) {
    }
    return 0;
}

int TryWait(Sem *pSem) {
    sem_trywait(&pSem->pPrivate->semaphore);
    return 0;
}

} // namespace

int Sem_Create(Sem **ppSem, const SemParam *pParam) {
    TARN_ASSERT(ppSem);
    TARN_ASSERT(pParam);
    auto *sem = new (std::nothrow) SemPrivate{};
    if (sem == nullptr) {
        TARN_ERR("malloc fail.\n");
        return -1;
    }
    if (sem_init(&sem->semaphore, 0, pParam->value) != 0) {
        TARN_SYSERR("sem_init");
        delete sem;
        return -1;
    }
    sem->object = {sem, Post, Wait, TimedWait, TryWait};
    sem->name = MakeObjectName(pParam->pName);
    *ppSem = &sem->object;
    TARN_INFO("create sem '%s' sucess.\n", sem->name.data());
    return 0;
}

void Sem_Delete(Sem **ppSem) {
    TARN_ASSERT(ppSem);
    if (*ppSem != nullptr) {
        sem_destroy(&(*ppSem)->pPrivate->semaphore);
        delete (*ppSem)->pPrivate;
        *ppSem = nullptr;
    }
}
