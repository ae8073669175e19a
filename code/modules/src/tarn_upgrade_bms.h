// upgrade_bms: writes an application image into the battery's management controller through its bootloader,
// over MAVLink device messages. Images are smaller than 64 KiB: the protocol's lengths are 16-bit.
#pragma once

#include <cstdint>

int Main_UpgradeBms(int argc, char *argv[]);

void Bms_Usage();
int Bms_InitUart();
// CRC-16/CCITT-FALSE.
uint16_t Bms_Crc16(const uint8_t *data, uint32_t length);
int Bms_WaitAck();
int Bms_SetFlag(int flag);
int Bms_EnterBootload();
int Bms_Request();
int Bms_Erase();
int Bms_Program();
int Bms_RunToApp();
int Bms_Upgrade();
