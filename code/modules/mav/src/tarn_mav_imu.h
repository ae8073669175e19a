// The IMU's handler on the MAVLink service: takes the IMU group's messages and accepts them.
#pragma once

struct MavImuHandle {
    int (*Nop)();
};

int MavImu_Create(MavImuHandle **ppImu);
void MavMavImu_Delete(MavImuHandle **ppImu);
int MavImu_Nop();
