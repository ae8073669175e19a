// upgrade_fmu: writes an application image into the flight controller through its serial bootloader.
#pragma once

#include <cstdint>

int Main_UpgradeFmu(int argc, char *argv[]);

void Fmu_Usage();

int Fmu_InitUart();
void Fmu_DeinitUart();
int Fmu_Recv(uint8_t *buffer, uint32_t count);
int Fmu_Send(const uint8_t *buffer, uint32_t count);

// The file's size, or 0xFFFFFFFF when it cannot be had.
uint32_t Fmu_GetFileSize(const char *path);
int Fmu_GetFileBuf();
void Fmu_FreeFileBuf();

// Reflected CRC-32 (0xEDB88320) from the caller's start value, without inversion: the bootloader's own.
uint32_t Fmu_Crc32(const uint8_t *data, uint32_t length, uint32_t crc);

void Fmu_Flush();
int Fmu_GetSync();
int Fmu_Sync();
int Fmu_GetInfo(uint8_t parameter, uint32_t *value);
int Fmu_Erase();
int Fmu_Program();
int Fmu_Verify();
int Fmu_Reboot();
int Fmu_RebootToBootloader();
int Fmu_Upgrade();
