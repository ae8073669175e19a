#include "tarn_mav_handler.h"

#include "mav.h"
#include "tarn_cancellable.h"
#include "tarn_console.h"
#include "tarn_thread.h"
#include "tarn_time.h"

namespace {

constexpr uint64_t kShareWaitUs = 1000000;
constexpr uint64_t kEmptyPauseUs = 100000;

} // namespace

int MavHandler::Acquire() {
    if (references_.fetch_add(1) + 1 >= 2) {
        Time_SleepUs(kShareWaitUs);
        return 0;
    }
    if (Mav_Init() != 0) {
        TARN_ERR("mav init fail.\n");
        references_.fetch_sub(1);
        return -1;
    }
    const ThreadParam threadParam = {config_.pThreadName, this, Run};
    if (Thread_Create(&pThread_, &threadParam) != 0) {
        TARN_ERR("Thread_Create \n");
        Mav_Deinit();
        references_.fetch_sub(1);
        return -1;
    }
    return 0;
}

void MavHandler::Release() {
    int32_t count = references_.load();
    do {
        if (count <= 0) {
            return;
        }
    } while (!references_.compare_exchange_weak(count, count - 1));
    if (count - 1 > 0) {
        return;
    }
    Thread_Stop(pThread_);
    Thread_Delete(&pThread_);
    Mav_Deinit();
}

void *MavHandler::Run(void *pArg) {
    const MavHandler *pHandler = static_cast<const MavHandler *>(pArg);
    tarn::DisableCancellation();
    for (;;) {
        MavlinkMessage message;
        if (pHandler->config_.Take(&message) == 0) {
            tarn::CancellableSleepUs(kEmptyPauseUs);
            continue;
        }
        if (pHandler->config_.Handle(&message) != 0) {
            TARN_ERR("handle mavlink msgid=%d fail.\n", message.messageId);
        }
    }
    return nullptr;
}

int MavHandler_AcceptDeviceMsg(const MavlinkMessage *pMsg) {
    switch (pMsg->messageId) {
        case kMavlinkMsgIdDeviceCommand:
        case kMavlinkMsgIdDeviceData:
        case kMavlinkMsgIdDeviceFlag:
            return 0;
        default:
            MavHandler_WarnUnsupported(pMsg);
            return 0;
    }
}

void MavHandler_WarnUnsupported(const MavlinkMessage *pMsg) {
    TARN_WARN("unsupport process bms mavlink msgid=%d.\n", pMsg->messageId);
}
