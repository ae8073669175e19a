// upgrade_of: writes an application image into the optical-flow sensor through its bootloader, over MAVLink
// device messages.
#pragma once

#include <cstdint>

int Main_UpgradeOf(int argc, char *argv[]);

void Of_Usage();
int Of_InitUart();
// The word-wise CRC-32 (0x04C11DB7) from 0.
uint32_t Of_Crc32(const uint8_t *data, uint32_t length);
int Of_WaitAck();
int Of_SetFlag(int flag);
int Of_EnterBoot();
int Of_SetAppInfo();
int Of_Request();
int Of_Erase();
int Of_Program();
int Of_Verify();
int Of_RunToApp();
int Of_Upgrade();
