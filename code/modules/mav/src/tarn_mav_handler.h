// The one mechanism behind the MAVLink device handlers (flight controller, IMU, camera, battery): a
// process-wide user count on top of the receive service, and a thread that takes the device's group and hands
// each message to the device's handler. A handler module is a configuration of it.
#pragma once

#include <atomic>
#include <cstdint>

#include "tarn_mavlink.h"

struct Thread;

struct MavHandlerConfig {
    const char *pThreadName;
    uint32_t (*Take)(MavlinkMessage *pMsg);
    int (*Handle)(const MavlinkMessage *pMsg);
};

class MavHandler {
public:
    explicit MavHandler(const MavHandlerConfig &config) : config_(config) {}
    MavHandler(const MavHandler &) = delete;
    MavHandler &operator=(const MavHandler &) = delete;

    // The first user starts the service and the thread; later ones wait a second and share them.
    // 0, or -1 after "mav init fail." or "Thread_Create ".
    int Acquire();
    // The last user stops the thread (cancelled and joined) and drops the service; at 0 nothing happens.
    void Release();

private:
    static void *Run(void *pArg);

    const MavHandlerConfig &config_;
    std::atomic<int32_t> references_{0};
    // Written by the first Acquire before any sharer can see the count, and by the last Release.
    Thread *pThread_ = nullptr;
};

// The handlers' entries check the caller's handle pointer; a delete of a null handle does nothing.
template <typename Handle> int MavHandler_Create(MavHandler &handler, Handle **ppHandle, Handle *pHandle) {
    if (handler.Acquire() != 0) {
        return -1;
    }
    *ppHandle = pHandle;
    return 0;
}

template <typename Handle> void MavHandler_Delete(MavHandler &handler, Handle **ppHandle) {
    if (*ppHandle != nullptr) {
        handler.Release();
    }
    *ppHandle = nullptr;
}

// The IMU and camera handlers' step: the three device messages are accepted and dropped, any other id is
// warned about (in the battery handler's words, as all three handlers print them).
int MavHandler_AcceptDeviceMsg(const MavlinkMessage *pMsg);
// The warning of a message id a device handler does not process.
void MavHandler_WarnUnsupported(const MavlinkMessage *pMsg);
