// The flight controller's handler on the MAVLink service: a thread keeps the latest payload of every message
// it knows, and the handle's getters decode them (zeros before the first message of an id).
#pragma once

#include <cstdint>

#include "tarn_mavlink.h"

struct FmuGpsInfo {
    int32_t latitude, longitude, altitude;
};
struct FmuAttitude {
    uint32_t timeBootMs;
    float roll, pitch, yaw, rollSpeed, pitchSpeed, yawSpeed;
};
struct FmuGlobalPosition {
    uint32_t timeBootMs;
    int32_t latitude, longitude, altitude, relativeAltitude;
    int16_t vx, vy, vz;
    uint16_t heading;
};
struct FmuSysStatus {
    uint32_t warnState;
    uint16_t load;
    uint8_t flyStatus;
    uint8_t version[8];
};
struct FmuBatteryInfo {
    float voltage, capacity, current, temperature;
    int32_t designCapacity, fullCapacity;
};
struct FmuBatteryInfoExt {
    uint16_t cells[6];
};
struct FmuGpsRaw {
    uint64_t time;
    int32_t latitude, longitude, altitude;
    uint16_t eph, epv, velocity, course;
    uint8_t fixType, satellites;
};
struct FmuLocalPosition {
    uint32_t timeBootMs;
    float x, y, z, vx, vy, vz;
};
struct FmuVector {
    float x, y, z;
};
struct FmuPressure {
    float absolute, differential, altitude, temperature;
};
struct FmuHeartbeat {
    uint32_t customMode;
    uint8_t type, autopilot, baseMode, systemStatus, mavlinkVersion;
};

// The operations, in table order; each returns 0 (PutMsg -1 when the write fails).
struct FmuHandle {
    int (*PutMsg)(const uint8_t *pFrame, uint32_t length);
    // Waits, polling every 100 ms, until the any ring hands out a message; gives its frame length.
    int (*GetRawMsg)(MavlinkMessage *pMsg, uint32_t *pLength);
    int (*GetGpsInfo)(FmuGpsInfo *pInfo);
    int (*GetAttitude)(FmuAttitude *pAttitude);
    int (*GetGlobalPosition)(FmuGlobalPosition *pPosition);
    int (*GetSysStatus)(FmuSysStatus *pStatus);
    int (*GetBatteryInfo)(FmuBatteryInfo *pInfo);
    int (*GetBatteryInfoExt)(FmuBatteryInfoExt *pInfo);
    int (*GetGpsRaw)(FmuGpsRaw *pRaw);
    int (*GetLocalPosition)(FmuLocalPosition *pPosition);
    int (*GetImuAcc)(FmuVector *pAcceleration);
    int (*GetImuGyro)(FmuVector *pGyro);
    int (*GetImuMag)(FmuVector *pMagnetic);
    int (*GetImuPressure)(FmuPressure *pPressure);
    int (*GetHeartbeat)(FmuHeartbeat *pHeartbeat);
};

int Fmu_Create(FmuHandle **ppFmu);
void Fmu_Delete(FmuHandle **ppFmu);
// Stores a message of the flight controller's group; the handler thread's step.
int Fmu_HdlMsg(const MavlinkMessage *pMsg);
