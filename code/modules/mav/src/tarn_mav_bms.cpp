#include "tarn_mav_bms.h"

#include <atomic>
#include <mutex>

#include "mav.h"
#include "tarn_console.h"
#include "tarn_mav_handler.h"
#include "tarn_posix_sync.h"
#include "tarn_time.h"

namespace {

constexpr uint32_t kCodeBase = 0x0F000000;
constexpr uint8_t kBootloaderVersion = 0xD7;
constexpr uint8_t kAppVersion = 0xD8;
constexpr uint8_t kPercent = 0xDA;
// Commands of the battery's upgrade whose replies carry only the acknowledgement.
constexpr uint8_t kUpgradeFirst = 209;
constexpr uint8_t kUpgradeLast = 214;
constexpr uint8_t kUpgradeEnd = 236;
constexpr uint8_t kAcknowledged = 0xFD;
constexpr uint8_t kRefused = 0xFE;
constexpr uint32_t kAckWaitSec = 5;
constexpr uint64_t kAckPollUs = 1000000;

enum AckState : int32_t { kWaiting = -1, kRefusedState = 0, kAcknowledgedState = 1 };

// The handler thread writes these and the querying thread reads them; the acknowledgement is stored last, so
// a query that sees it also sees the value its reply carried.
std::atomic<int32_t> gAck{kWaiting};
std::atomic<uint32_t> gAwaited{0}; // the command a query waits for; 0: none
std::atomic<uint32_t> gAppVersion{0};
std::atomic<uint32_t> gBldVersion{0};
std::atomic<uint32_t> gPercent{0};

// One query at a time: the acknowledgement state is theirs, and so is the transmit channel.
PosixMutex gQueryLock;
MavlinkChannels gChannels{}; // under gQueryLock

int Bms_WaitAck(uint32_t seconds) {
    const uint32_t start = Time_GetSec();
    while (Time_GetSec() - start <= seconds) {
        const int32_t state = gAck.load();
        if (state == kAcknowledgedState) {
            return 0;
        }
        if (state == kRefusedState) {
            TARN_WARN("CMD NACK.\n");
            return -1;
        }
        Time_SleepUs(kAckPollUs);
    }
    TARN_ERR("ack timeout.\n");
    return -1;
}

int Query(uint8_t command, const std::atomic<uint32_t> &field, uint32_t *pResult) {
    std::lock_guard<PosixMutex> hold(gQueryLock);
    MavlinkMessage message{};
    const uint16_t length =
        Mavlink_PackDeviceCommand(&gChannels, 0, 0, &message, kMavlinkDeviceBms, kCodeBase | command, nullptr);
    uint8_t frame[kMavlinkMaxFrameLength];
    Mavlink_MsgToSendBuffer(frame, &message);
    // Armed before the request leaves, so that a quick reply cannot be missed.
    gAwaited.store(command);
    gAck.store(kWaiting);
    const bool answered = Mav_PutMsg(frame, length) == 0 && Bms_WaitAck(kAckWaitSec) == 0;
    gAwaited.store(0);
    if (!answered) {
        TARN_ERR("send data but no ack.\n");
        return -1;
    }
    *pResult = field.load();
    return 0;
}

void Bms_HdlPtzFrameCmd(const MavlinkMessage *pMsg) {
    const uint8_t *payload = pMsg->payload;
    const uint8_t status = payload[0];
    const uint8_t command = payload[6];
    const uint32_t version = static_cast<uint32_t>(payload[9]) << 24 | static_cast<uint32_t>(payload[8]) << 16;
    const bool refused = status == kRefused;
    switch (command) {
        case kBootloaderVersion:
            if (!refused) {
                gBldVersion.store(version);
            }
            break;
        case kAppVersion:
            if (!refused) {
                gAppVersion.store(version);
            }
            break;
        case kPercent:
            if (!refused) {
                gPercent.store(payload[8]);
            }
            break;
        default:
            if ((command < kUpgradeFirst || command > kUpgradeLast) && command != kUpgradeEnd) {
                TARN_WARN("unsupport bms cmd=0x%x.\n", command);
                return;
            }
    }
    // Only the reply to the awaited command ends a query: a late answer to an earlier one never does.
    if (command == gAwaited.load() && (status == kAcknowledged || refused)) {
        gAck.store(refused ? kRefusedState : kAcknowledgedState);
    }
}

BmsHandle gHandle = {Bms_GetAppVer, Bms_GetBldVer, Bms_GetPercent};
const MavHandlerConfig kConfig = {"mav_bms", Mav_GetBmsMsg, Bms_HdlMsg};
MavHandler gHandler(kConfig);

} // namespace

int Bms_Create(BmsHandle **ppBms) {
    TARN_ASSERT(ppBms);
    return MavHandler_Create(gHandler, ppBms, &gHandle);
}

void Bms_Delete(BmsHandle **ppBms) {
    TARN_ASSERT(ppBms);
    MavHandler_Delete(gHandler, ppBms);
}

int Bms_GetAppVer(uint32_t *pVersion) {
    return Query(kAppVersion, gAppVersion, pVersion);
}

int Bms_GetBldVer(uint32_t *pVersion) {
    return Query(kBootloaderVersion, gBldVersion, pVersion);
}

int Bms_GetPercent(uint32_t *pPercent) {
    return Query(kPercent, gPercent, pPercent);
}

int Bms_HdlMsg(const MavlinkMessage *pMsg) {
    switch (pMsg->messageId) {
        case kMavlinkMsgIdDeviceCommand:
            Bms_HdlPtzFrameCmd(pMsg);
            return 0;
        case kMavlinkMsgIdDeviceFlag:
            return 0;
        default:
            MavHandler_WarnUnsupported(pMsg);
            return 0;
    }
}
