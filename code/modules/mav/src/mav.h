#pragma once

#include <cstdint>

#include "tarn_mavlink.h"

// The one MAVLink line (port 0, 115200) shared by the flight-controller, IMU, camera and battery handlers:
// one receive thread sorts every good frame into the group of its device and into the any ring.
int Mav_Init();
void Mav_Deinit();
int Mav_PutMsg(const uint8_t *pFrame, uint32_t length);

// Take the oldest message held in a group; 1 when one was taken, 0 when the group is empty. Never wait.
uint32_t Mav_GetFmuMsg(MavlinkMessage *pMsg);
uint32_t Mav_GetImuMsg(MavlinkMessage *pMsg);
uint32_t Mav_GetFlowMsg(MavlinkMessage *pMsg);
uint32_t Mav_GetBmsMsg(MavlinkMessage *pMsg);
uint32_t Mav_GetAnyMsg(MavlinkMessage *pMsg);

uint32_t Mav_GetMsgLen(const MavlinkMessage *pMsg);
void Mav_PrintMsg(const MavlinkMessage *pMsg);

void *Mav_RecvThread(void *pArg);
// Called by the receive thread only (and by tests standing in for it).
void Mav_ParseMsg(const uint8_t *pBytes, uint32_t count);
