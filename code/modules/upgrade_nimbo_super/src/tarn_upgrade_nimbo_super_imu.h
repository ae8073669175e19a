// The second-generation IMU behind the flight controller: firmware upgrade and version.
#pragma once

#include <cstdint>

int imu_upgrade(const char *path);
int imu_GetVer(uint32_t *version);
int imu_getProgress(uint32_t *progress);
