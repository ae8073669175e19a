// Named counting semaphores, private to the process, as handle objects.
#pragma once

#include <cstdint>

struct SemParam {
    const char *pName;
    uint32_t value; // initial count
};

struct SemPrivate;

// The operations may be called from any thread; create and delete from one.
struct Sem {
    SemPrivate *pPrivate;
    int (*Post)(Sem *pSem);
    int (*Wait)(Sem *pSem);
    // Waits at most the given milliseconds; returns 0 whether the count was taken or the time passed.
    int (*TimedWait)(Sem *pSem, uint32_t milliseconds);
    // Takes the count if it is above zero; returns 0 either way.
    int (*TryWait)(Sem *pSem);
};

int Sem_Create(Sem **ppSem, const SemParam *pParam);
void Sem_Delete(Sem **ppSem);
