// upgrade_imu: writes an application image into the IMU through its bootloader, over MAVLink device messages.
#pragma once

#include <cstdint>

int Main_UpgradeImu(int argc, char *argv[]);

void Imu_Usage();
int Imu_InitUart();
void Imu_DeinitUart();
int Imu_Recv(uint8_t *buffer, uint32_t count);
int Imu_Send(const uint8_t *buffer, uint32_t count);
uint32_t Imu_GetFileSize(const char *path);
int Imu_GetFileBuf();
void Imu_FreeFileBuf();

// Scrambles in place with the board's key; -1 when the length is not a multiple of 8.
int Imu_Encrypt(uint8_t *bytes, uint32_t length);
// CRC-16/MODBUS over the address (little-endian) followed by the data.
uint16_t Imu_Crc16(uint32_t address, const uint8_t *data, uint32_t length);
// The word-wise CRC-32 (0x04C11DB7) from the given start value.
uint32_t Imu_Crc32(const uint8_t *data, uint32_t length, uint32_t crc);

int Imu_WaitAck();
int Imu_SetFlag(int flag);
int Imu_Prepare();
int Imu_Erase();
int Imu_Program();
int Imu_SetAppInfo();
int Imu_RunToApp();
int Imu_Upgrade();
