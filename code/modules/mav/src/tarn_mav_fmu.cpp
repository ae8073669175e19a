#include "tarn_mav_fmu.h"

#include <cstring>
#include <mutex>

#include "mav.h"
#include "tarn_byte_order.h"
#include "tarn_console.h"
#include "tarn_mav_handler.h"
#include "tarn_posix_sync.h"
#include "tarn_time.h"

namespace {

constexpr uint64_t kRawPollUs = 100000;

// The messages whose latest payload is kept, and how many payload bytes of each.
enum Area { kHeartbeat, kSysStatus, kGpsRaw, kAttitude, kLocalPosition, kGlobalPosition, kGpsOrigin, kImu, kBattery };
struct AreaRow {
    uint8_t messageId;
    uint8_t size;
};
constexpr AreaRow kAreaRows[] = {{0, 12},  {1, 20},  {24, 40},  {30, 28}, {32, 28},
                                 {33, 28}, {49, 12}, {105, 72}, {214, 84}};
constexpr size_t kAreaCount = sizeof(kAreaRows) / sizeof(kAreaRows[0]);
constexpr size_t kLargestArea = 84;
constexpr uint8_t kDeviceCommandId = 200;

// Written by the handler thread, read by the getters' threads: every copy in or out is under the lock, so a
// getter never decodes half of one message and half of the next.
PosixMutex gAreaLock;
uint8_t gAreas[kAreaCount][kLargestArea];

struct Payload {
    uint8_t bytes[kLargestArea];
    uint32_t U32(size_t offset) const { return tarn::LoadLe32(bytes + offset); }
    int32_t I32(size_t offset) const { return static_cast<int32_t>(U32(offset)); }
    uint16_t U16(size_t offset) const { return tarn::LoadLe16(bytes + offset); }
    int16_t I16(size_t offset) const { return static_cast<int16_t>(U16(offset)); }
    uint64_t U64(size_t offset) const { return U32(offset) | static_cast<uint64_t>(U32(offset + 4)) << 32; }
    float F32(size_t offset) const {
        const uint32_t bits = U32(offset);
        float value;
        memcpy(&value, &bits, sizeof value);
        return value;
    }
};

Payload Read(Area area) {
    Payload payload;
    std::lock_guard<PosixMutex> hold(gAreaLock);
    memcpy(payload.bytes, gAreas[area], sizeof payload.bytes);
    return payload;
}

int Fmu_PutMsg(const uint8_t *pFrame, uint32_t length) {
    if (Mav_PutMsg(pFrame, length) != 0) {
        TARN_ERR("mav put msg fail.\n");
        return -1;
    }
    return 0;
}

int Fmu_GetRawMsg(MavlinkMessage *pMsg, uint32_t *pLength) {
    while (Mav_GetAnyMsg(pMsg) == 0) {
        Time_SleepUs(kRawPollUs);
    }
    *pLength = Mav_GetMsgLen(pMsg);
    return 0;
}

int Fmu_GetGpsInfo(FmuGpsInfo *pInfo) {
    const Payload p = Read(kGpsOrigin);
    *pInfo = {p.I32(0), p.I32(4), p.I32(8)};
    return 0;
}

int Fmu_GetAttitude(FmuAttitude *pAttitude) {
    const Payload p = Read(kAttitude);
    *pAttitude = {p.U32(0), p.F32(4), p.F32(8), p.F32(12), p.F32(16), p.F32(20), p.F32(24)};
    return 0;
}

int Fmu_GetGlobalPosition(FmuGlobalPosition *pPosition) {
    const Payload p = Read(kGlobalPosition);
    *pPosition = {p.U32(0), p.I32(4), p.I32(8), p.I32(12), p.I32(16), p.I16(20), p.I16(22), p.I16(24), p.U16(26)};
    return 0;
}

int Fmu_GetSysStatus(FmuSysStatus *pStatus) {
    const Payload p = Read(kSysStatus);
    *pStatus = {p.U32(0), p.U16(8), p.bytes[10], {}};
    memcpy(pStatus->version, p.bytes + 11, sizeof pStatus->version);
    return 0;
}

int Fmu_GetBatteryInfo(FmuBatteryInfo *pInfo) {
    const Payload p = Read(kBattery);
    *pInfo = {p.F32(0), p.F32(4), p.F32(8), p.F32(12), p.I32(20), p.I32(24)};
    return 0;
}

int Fmu_GetBatteryInfoExt(FmuBatteryInfoExt *pInfo) {
    const Payload p = Read(kBattery);
    for (size_t cell = 0; cell < 6; ++cell) {
        pInfo->cells[cell] = p.U16(30 + 2 * cell);
    }
    return 0;
}

int Fmu_GetGpsRaw(FmuGpsRaw *pRaw) {
    const Payload p = Read(kGpsRaw);
    *pRaw = {p.U64(0),  p.I32(16), p.I32(20), p.I32(24),   p.U16(28),
             p.U16(30), p.U16(32), p.U16(34), p.bytes[36], p.bytes[37]};
    return 0;
}

int Fmu_GetLocalPosition(FmuLocalPosition *pPosition) {
    const Payload p = Read(kLocalPosition);
    *pPosition = {p.U32(0), p.F32(4), p.F32(8), p.F32(12), p.F32(16), p.F32(20), p.F32(24)};
    return 0;
}

FmuVector ImuVector(size_t offset) {
    const Payload p = Read(kImu);
    return {p.F32(offset), p.F32(offset + 4), p.F32(offset + 8)};
}

int Fmu_GetImuAcc(FmuVector *pAcceleration) {
    *pAcceleration = ImuVector(8);
    return 0;
}

int Fmu_GetImuGyro(FmuVector *pGyro) {
    *pGyro = ImuVector(20);
    return 0;
}

int Fmu_GetImuMag(FmuVector *pMagnetic) {
    *pMagnetic = ImuVector(32);
    return 0;
}

int Fmu_GetImuPressure(FmuPressure *pPressure) {
    const Payload p = Read(kImu);
    *pPressure = {p.F32(44), p.F32(48), p.F32(52), p.F32(56)};
    return 0;
}

int Fmu_GetHeartbeat(FmuHeartbeat *pHeartbeat) {
    const Payload p = Read(kHeartbeat);
    *pHeartbeat = {p.U32(0), p.bytes[4], p.bytes[5], p.bytes[6], p.bytes[7], p.bytes[8]};
    return 0;
}

FmuHandle gHandle = {
    Fmu_PutMsg,       Fmu_GetRawMsg,      Fmu_GetGpsInfo,        Fmu_GetAttitude,    Fmu_GetGlobalPosition,
    Fmu_GetSysStatus, Fmu_GetBatteryInfo, Fmu_GetBatteryInfoExt, Fmu_GetGpsRaw,      Fmu_GetLocalPosition,
    Fmu_GetImuAcc,    Fmu_GetImuGyro,     Fmu_GetImuMag,         Fmu_GetImuPressure, Fmu_GetHeartbeat,
};

const MavHandlerConfig kConfig = {"mav_fmu", Mav_GetFmuMsg, Fmu_HdlMsg};
MavHandler gHandler(kConfig);

} // namespace

int Fmu_Create(FmuHandle **ppFmu) {
    TARN_ASSERT(ppFmu);
    return MavHandler_Create(gHandler, ppFmu, &gHandle);
}

void Fmu_Delete(FmuHandle **ppFmu) {
    TARN_ASSERT(ppFmu);
    MavHandler_Delete(gHandler, ppFmu);
}

int Fmu_HdlMsg(const MavlinkMessage *pMsg) {
    for (size_t area = 0; area < kAreaCount; ++area) {
        if (kAreaRows[area].messageId == pMsg->messageId) {
            // Past the received payload the area reads as zeros (the record keeps the checksum there).
            const size_t size = kAreaRows[area].size;
            const size_t received = pMsg->length < size ? pMsg->length : size;
            std::lock_guard<PosixMutex> hold(gAreaLock);
            memcpy(gAreas[area], pMsg->payload, received);
            memset(gAreas[area] + received, 0, size - received);
            return 0;
        }
    }
    if (pMsg->messageId != kDeviceCommandId) {
        TARN_WARN("unsupport process fmu mavlink msgid=%d.\n", pMsg->messageId);
    }
    return 0;
}
