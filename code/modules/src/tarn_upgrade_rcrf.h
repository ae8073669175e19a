// upgrade_rc and upgrade_rf: write an application image into the remote-control or the radio module through its
// bootloader, in RC/RF frames. The name the tool runs under picks the module.
#pragma once

#include <cstdint>

#include "tarn_rcrf.h"

int Main_UpgradeRcrf(int argc, char *argv[]);

void Rcrf_Usage();
int Rcrf_InitUart();
void Rcrf_DeinitUart();
// One byte or more within 2 s; 0, or -1 after the reason.
int Rcrf_Recv(uint8_t *buffer, uint32_t count);
int Rcrf_Send(const uint8_t *buffer, uint32_t count);
uint32_t Rcrf_GetFileSize(const char *path);
int Rcrf_GetFileBuf();
void Rcrf_FreeFileBuf();
int Rcrf_SendMsg(const RcrfMsg &msg);
// 0 once the module acknowledged; -1 after "invalid ack" when the line fell silent or 10 s passed.
int Rcrf_WaitAck();
int Rcrf_Jump2Bootload();
int Rcrf_Request();
int Rcrf_SetAppInfo();
int Rcrf_Erase();
int Rcrf_Program();
int Rcrf_Jump2App();
int Rcrf_Upgrade();
