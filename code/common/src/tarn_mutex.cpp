#include "tarn_mutex.h"

#include <new>

#include "tarn_console.h"
#include "tarn_object_name.h"
#include "tarn_posix_sync.h"

struct MutexPrivate {
    Mutex object;
    ObjectName name; // fixed at creation
    PosixMutex mutex;
};

namespace {

int Lock(Mutex *pMutex) {
    pMutex->pPrivate->mutex.lock();
    return 0;
}

int TryLock(Mutex *pMutex) {
    return pMutex->pPrivate->mutex.try_lock() ? 0 : -1;
}

int Unlock(Mutex *pMutex) {
    pMutex->pPrivate->mutex.unlock();
    return 0;
}

} // namespace

int Mutex_Create(Mutex **ppMutex, const MutexParam *pParam) {
    TARN_ASSERT(ppMutex);
    TARN_ASSERT(pParam);
    auto *mutex = new (std::nothrow) MutexPrivate{};
    if (mutex == nullptr) {
        TARN_ERR("malloc fail.\n");
        return -1;
    }
    mutex->object = {mutex, Lock, TryLock, Unlock};
    mutex->name = MakeObjectName(pParam->pName);
    *ppMutex = &mutex->object;
    TARN_INFO("create mutex '%s' sucess.\n", mutex->name.data());
    return 0;
}

void Mutex_Delete(Mutex **ppMutex) {
    TARN_ASSERT(ppMutex);
    if (*ppMutex != nullptr) {
        delete (*ppMutex)->pPrivate;
        *ppMutex = nullptr;
    }
}
