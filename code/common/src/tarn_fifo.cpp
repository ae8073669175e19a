#include "tarn_fifo.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "tarn_console.h"

namespace {

uint32_t Put(Fifo *pFifo, const void *pData, uint32_t len) {
    FifoCore &core = *pFifo->pCore;
    const auto *data = static_cast<const uint8_t *>(pData);
    std::lock_guard<PosixMutex> hold(core.lock);
    const uint32_t count = std::min(len, core.size - (core.in - core.out));
    if (count == 0) {
        return 0;
    }
    const uint32_t position = core.in & (core.size - 1);
    const uint32_t firstRun = std::min(count, core.size - position);
    memcpy(core.buffer + position, data, firstRun);
    memcpy(core.buffer, data + firstRun, count - firstRun);
    core.in += count;
    return count;
}

uint32_t Get(Fifo *pFifo, void *pBuffer, uint32_t len) {
    FifoCore &core = *pFifo->pCore;
    auto *buffer = static_cast<uint8_t *>(pBuffer);
    std::lock_guard<PosixMutex> hold(core.lock);
    const uint32_t count = std::min(len, core.in - core.out);
    if (count == 0) {
        return 0;
    }
    const uint32_t position = core.out & (core.size - 1);
    const uint32_t firstRun = std::min(count, core.size - position);
    memcpy(buffer, core.buffer + position, firstRun);
    memcpy(buffer + firstRun, core.buffer, count - firstRun);
    core.out += count;
    // An emptied queue starts again at the start of the buffer.
    if (core.in == core.out) {
        core.in = 0;
        core.out = 0;
    }
    return count;
}

int Reset(Fifo *pFifo) {
    FifoCore &core = *pFifo->pCore;
    std::lock_guard<PosixMutex> hold(core.lock);
    core.in = 0;
    core.out = 0;
    return 0;
}

uint32_t Len(Fifo *pFifo) {
    FifoCore &core = *pFifo->pCore;
    std::lock_guard<PosixMutex> hold(core.lock);
    return core.in - core.out;
}

int IsFull(Fifo *pFifo) {
    FifoCore &core = *pFifo->pCore;
    std::lock_guard<PosixMutex> hold(core.lock);
    return core.size - (core.in - core.out) == 0 ? 1 : 0;
}

bool IsPowerOfTwo(uint32_t value) {
    return value != 0 && (value & (value - 1)) == 0;
}

} // namespace

FifoCore *Fifo_Alloc(uint32_t size) {
    if (!IsPowerOfTwo(size)) {
        TARN_ERR("fifo size %u is not a power of two.\n", size);
        return nullptr;
    }
    auto *core = new (std::nothrow) FifoCore{};
    if (core == nullptr) {
        TARN_ERR("fifo malloc fail.\n");
        return nullptr;
    }
    core->buffer = new (std::nothrow) uint8_t[size];
    if (core->buffer == nullptr) {
        TARN_ERR("fifo buffer malloc fail.\n");
        delete core;
        return nullptr;
    }
    core->size = size;
    return core;
}

int Fifo_Create(Fifo **ppFifo, const FifoParam *pParam) {
    TARN_ASSERT(ppFifo);
    TARN_ASSERT(pParam);
    auto *fifo = new (std::nothrow) Fifo{nullptr, Put, Get, Reset, Len, IsFull};
    if (fifo == nullptr) {
        TARN_ERR("malloc fail.\n");
        return -1;
    }
    fifo->pCore = Fifo_Alloc(pParam->size);
    if (fifo->pCore == nullptr) {
        TARN_ERR("malloc fail.\n");
        delete fifo;
        return -1;
    }
    fifo->pCore->name = MakeObjectName(pParam->pName);
    *ppFifo = fifo;
    return 0;
}

void Fifo_Delete(Fifo **ppFifo) {
    TARN_ASSERT(ppFifo);
    if (*ppFifo != nullptr) {
        delete (*ppFifo)->pCore;
        delete *ppFifo;
        *ppFifo = nullptr;
    }
}
