#include "mav.h"

#include <atomic>
#include <cstring>
#include <mutex>

#include "tarn_cancellable.h"
#include "tarn_console.h"
#include "tarn_mutex.h"
#include "tarn_posix_sync.h"
#include "tarn_thread.h"
#include "tarn_time.h"
#include "tarn_uart.h"

namespace {

constexpr int32_t kPort = 0;
constexpr int32_t kBaudrate = 115200;
constexpr uint32_t kReadChunk = 1024;
constexpr uint32_t kReadTimeoutMs = 100;
constexpr uint64_t kReadFailurePauseUs = 100000;
constexpr uint64_t kShareWaitUs = 1000000;
constexpr uint8_t kStart = 0xFE;
constexpr uint8_t kParseChannel = 0;
constexpr uint32_t kGroupSize = 32;
constexpr uint32_t kAnySize = 128;
constexpr uint8_t kDeviceCommandId = 200;
constexpr uint8_t kDeviceDataId = 218;
constexpr uint8_t kDeviceFlagId = 219;
constexpr uint32_t kDeviceCount = 4;

// A slot remembers when it was written, so a take hands out the oldest message even after the write index
// wrapped past lower slots.
struct Slot {
    MavlinkMessage message;
    uint64_t order;
};

template <uint32_t Size> struct Group {
    Slot slots[Size];
    uint32_t writeIndex; // receive thread only
};

struct MavService {
    std::atomic<int32_t> references;
    Uart *pPort;
    Thread *pThread;
    Mutex *pLock;
    // Slots, their order stamps and nextOrder are under pLock; the write indexes belong to the receive thread.
    Group<kGroupSize> groups[kDeviceCount];
    Group<kAnySize> any;
    uint64_t nextOrder;
    MavlinkChannels channels; // receive thread only
};

MavService gService{};
// Writers from several handler threads: one frame leaves whole before the next begins.
PosixMutex gWriteLock;

const char *const kOverlayWarnings[kDeviceCount] = {
    "overlay fmu msg: ", "overlay imu msg: ", "overlay flow msg: ", "overlay bms msg: "};

// A device id past the received payload reads as 0, as every byte there does.
uint32_t DeviceOf(const MavlinkMessage &message) {
    size_t offset = 0;
    switch (message.messageId) {
        case kDeviceCommandId:
        case kDeviceDataId:
            offset = 4;
            break;
        case kDeviceFlagId:
            offset = 0;
            break;
        default:
            return 0;
    }
    return offset < message.length ? message.payload[offset] : 0;
}

template <uint32_t Size> void Store(Group<Size> &group, const MavlinkMessage &message, const char *pOverlay) {
    Slot &slot = group.slots[group.writeIndex % Size];
    MavlinkMessage lost{};
    bool overlaid = false;
    gService.pLock->Lock(gService.pLock);
    if (pOverlay != nullptr && slot.message.start != 0) {
        lost = slot.message;
        overlaid = true;
    }
    slot.message = message;
    slot.order = gService.nextOrder++;
    gService.pLock->Unlock(gService.pLock);
    ++group.writeIndex;
    if (overlaid) {
        TARN_WARN("%s", pOverlay);
        Mav_PrintMsg(&lost);
    }
}

template <uint32_t Size> uint32_t Take(Group<Size> &group, MavlinkMessage *pMsg) {
    gService.pLock->Lock(gService.pLock);
    Slot *pOldest = nullptr;
    for (Slot &slot : group.slots) {
        if (slot.message.start == kStart && (pOldest == nullptr || slot.order < pOldest->order)) {
            pOldest = &slot;
        }
    }
    if (pOldest != nullptr) {
        *pMsg = pOldest->message;
        memset(pOldest, 0, sizeof(*pOldest));
    }
    gService.pLock->Unlock(gService.pLock);
    return pOldest != nullptr ? 1 : 0;
}

} // namespace

int Mav_Init() {
    if (gService.references.fetch_add(1) + 1 >= 2) {
        Time_SleepUs(kShareWaitUs);
        return 0;
    }
    const UartParam uartParam = {kPort, kBaudrate};
    if (Uart_Create(&gService.pPort, &uartParam) != 0) {
        TARN_ERR("Uart_Create \n");
        gService.references.store(0);
        return -1;
    }
    const MutexParam mutexParam = {"mav"};
    if (Mutex_Create(&gService.pLock, &mutexParam) != 0) {
        TARN_ERR("Mutex_Create \n");
        Uart_Delete(&gService.pPort);
        gService.references.store(0);
        return -1;
    }
    gService.channels = MavlinkChannels{};
    const ThreadParam threadParam = {"mav_recv", nullptr, Mav_RecvThread};
    if (Thread_Create(&gService.pThread, &threadParam) != 0) {
        TARN_ERR("Thread_Create \n");
        Mutex_Delete(&gService.pLock);
        Uart_Delete(&gService.pPort);
        gService.references.store(0);
        return -1;
    }
    return 0;
}

void Mav_Deinit() {
    int32_t count = gService.references.load();
    do {
        if (count <= 0) {
            return;
        }
    } while (!gService.references.compare_exchange_weak(count, count - 1));
    if (count - 1 > 0) {
        return;
    }
    Thread_Stop(gService.pThread);
    Thread_Delete(&gService.pThread);
    Mutex_Delete(&gService.pLock);
    Uart_Delete(&gService.pPort);
}

int Mav_PutMsg(const uint8_t *pFrame, uint32_t length) {
    std::lock_guard<PosixMutex> hold(gWriteLock);
    Uart *pPort = gService.pPort;
    if (pPort == nullptr || pPort->Write(pPort, pFrame, length) != static_cast<int>(length)) {
        TARN_ERR("uart send fail.\n");
        return -1;
    }
    return 0;
}

uint32_t Mav_GetFmuMsg(MavlinkMessage *pMsg) {
    return Take(gService.groups[0], pMsg);
}
uint32_t Mav_GetImuMsg(MavlinkMessage *pMsg) {
    return Take(gService.groups[1], pMsg);
}
uint32_t Mav_GetFlowMsg(MavlinkMessage *pMsg) {
    return Take(gService.groups[2], pMsg);
}
uint32_t Mav_GetBmsMsg(MavlinkMessage *pMsg) {
    return Take(gService.groups[3], pMsg);
}
uint32_t Mav_GetAnyMsg(MavlinkMessage *pMsg) {
    return Take(gService.any, pMsg);
}

uint32_t Mav_GetMsgLen(const MavlinkMessage *pMsg) {
    return pMsg->length + 8u;
}

void Mav_PrintMsg(const MavlinkMessage *pMsg) {
    TARN_PRINT("0x%02x 0x%02x 0x%02x 0x%02x 0x%02x 0x%02x ", pMsg->start, pMsg->length, pMsg->sequence, pMsg->systemId,
               pMsg->componentId, pMsg->messageId);
    for (uint32_t index = 0; index < pMsg->length; ++index) {
        TARN_PRINT("0x%02x ", pMsg->payload[index]);
    }
    TARN_PRINT("0x%02x 0x%02x\n", pMsg->checksum & 0xFFu, pMsg->checksum >> 8);
}

void *Mav_RecvThread(void *) {
    tarn::DisableCancellation();
    uint8_t buffer[kReadChunk];
    for (;;) {
        Uart *pPort = gService.pPort;
        const int count =
            tarn::Cancellable([&] { return pPort->ReadTimeout(pPort, buffer, kReadChunk, kReadTimeoutMs); });
        if (count < 0) {
            TARN_WARN("mav recv fail.\n");
            // A dead port must not spin.
            tarn::CancellableSleepUs(kReadFailurePauseUs);
            continue;
        }
        Mav_ParseMsg(buffer, static_cast<uint32_t>(count));
    }
    return nullptr;
}

void Mav_ParseMsg(const uint8_t *pBytes, uint32_t count) {
    for (uint32_t index = 0; index < count; ++index) {
        MavlinkMessage message{};
        MavlinkStatus status{};
        if (Mavlink_ParseChar(&gService.channels, kParseChannel, pBytes[index], &message, &status) != 1) {
            continue;
        }
        // Past the payload and its two checksum bytes a record reads as zeros, never as an older frame's bytes.
        const size_t used = static_cast<size_t>(message.length) + 2;
        memset(message.payload + used, 0, sizeof(message.payload) - used);
        Store(gService.any, message, nullptr);
        const uint32_t device = DeviceOf(message);
        if (device < kDeviceCount) {
            Store(gService.groups[device], message, kOverlayWarnings[device]);
        } else {
            TARN_WARN("invalid device id: %d.\n", static_cast<int>(device));
        }
    }
}
