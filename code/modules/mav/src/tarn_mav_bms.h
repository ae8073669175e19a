// The battery's handler on the MAVLink service: three queries sent as DEVICE_COMMAND to device 3, answered
// by DEVICE_COMMAND replies that the handler thread files.
#pragma once

#include <cstdint>

#include "tarn_mavlink.h"

struct BmsHandle {
    int (*GetAppVer)(uint32_t *pVersion);
    int (*GetBldVer)(uint32_t *pVersion);
    int (*GetPercent)(uint32_t *pPercent);
};

int Bms_Create(BmsHandle **ppBms);
void Bms_Delete(BmsHandle **ppBms);

// Each sends its query and waits up to 5 s, polling once a second, for the reply to that very command:
// 0 with the value, or -1 (a refusal prints "CMD NACK.", silence "ack timeout.").
int Bms_GetAppVer(uint32_t *pVersion);
int Bms_GetBldVer(uint32_t *pVersion);
int Bms_GetPercent(uint32_t *pPercent);

// The handler thread's step for one message of the battery group.
int Bms_HdlMsg(const MavlinkMessage *pMsg);
