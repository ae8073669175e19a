// upgrade_fmu: writes an application image into the flight controller through its serial bootloader.
#pragma once

#include <cstdint>

#include "tarn_mavlink.h"

// The bootloader's bytes. Every command ends in kFmuEndOfCommand; the bootloader answers a complete command
// with its reply data, if any, then kFmuInSync and kFmuOk.
enum FmuBootloaderByte : uint8_t {
    kFmuNoOperation = 0x00,
    kFmuOk = 0x10,
    kFmuInSync = 0x12,
    kFmuEndOfCommand = 0x20,
    kFmuGetSync = 0x21,
    kFmuGetDeviceInfo = 0x22,
    kFmuChipErase = 0x23,
    kFmuProgramMultiple = 0x27,
    kFmuGetCrc = 0x29,
    kFmuReboot = 0x30,
};

// Parameters of kFmuGetDeviceInfo.
enum FmuDeviceInfo : uint8_t {
    kFmuInfoRevision = 1,
    kFmuInfoFlashSize = 4,
};

int Main_UpgradeFmu(int argc, char *argv[]);

void Fmu_Usage();

int Fmu_InitUart();
// The descriptor the protocol operations read and write: Fmu_InitUart sets it; the fuzz harness hands in one end
// of a socket pair.
void Fmu_SetLine(int fd);
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
// The flight controller's request to restart into its bootloader, as the wire carries it; returns its length.
uint16_t Fmu_PackRebootToBootloader(uint8_t (&frame)[kMavlinkMaxFrameLength]);
int Fmu_RebootToBootloader();
int Fmu_Upgrade();
