// Named, non-recursive mutexes as handle objects.
#pragma once

struct MutexParam {
    const char *pName;
};

struct MutexPrivate;

// Lock, TryLock and Unlock may be called from any thread; create and delete from one.
struct Mutex {
    MutexPrivate *pPrivate;
    int (*Lock)(Mutex *pMutex);
    // 0 when taken, -1 at once when another thread holds it.
    int (*TryLock)(Mutex *pMutex);
    int (*Unlock)(Mutex *pMutex);
};

int Mutex_Create(Mutex **ppMutex, const MutexParam *pParam);
// The mutex must be free and no other thread may still use it.
void Mutex_Delete(Mutex **ppMutex);
