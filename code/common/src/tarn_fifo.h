// A bounded byte queue with its own lock: one thread puts, another gets.
#pragma once

#include <cstdint>

#include "tarn_object_name.h"
#include "tarn_posix_sync.h"

struct FifoParam {
    const char *pName;
    uint32_t size; // a power of two
};

struct FifoCore {
    // Fixed at creation.
    ObjectName name{};
    uint8_t *buffer = nullptr;
    uint32_t size = 0;

    PosixMutex lock;
    // Running counts of bytes put and taken, guarded by lock. They wrap modulo 2^32, which a power-of-two size
    // keeps consistent with the positions (count & (size - 1)).
    uint32_t in = 0;
    uint32_t out = 0;

    ~FifoCore() { delete[] buffer; }
};

// The operations may be called from any thread; create and delete from one while nobody else uses it.
struct Fifo {
    FifoCore *pCore;
    // Accepts as many bytes as there is room for; returns that count.
    uint32_t (*Put)(Fifo *pFifo, const void *pData, uint32_t len);
    // Takes at most len queued bytes in order; returns that count (0 when empty).
    uint32_t (*Get)(Fifo *pFifo, void *pBuffer, uint32_t len);
    int (*Reset)(Fifo *pFifo);
    uint32_t (*Len)(Fifo *pFifo);
    int (*IsFull)(Fifo *pFifo);
};

// The queue core with an empty buffer of size bytes, or nullptr after the error line.
FifoCore *Fifo_Alloc(uint32_t size);

int Fifo_Create(Fifo **ppFifo, const FifoParam *pParam);
void Fifo_Delete(Fifo **ppFifo);
