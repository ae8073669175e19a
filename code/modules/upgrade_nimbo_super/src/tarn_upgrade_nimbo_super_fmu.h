// upgrade_fmu_super: flashes the second-generation flight controller on port 0. A MAVLink COMMAND_LONG sends
// it to its bootloader, which speaks packets of its own: 0x02, command, length, header CRC, data, data CRC
// (big-endian fields, CRC-16/XMODEM). Handshake, erase (which names the fragment length), numbered fragments,
// finish, then a MAVLink request back to the application.
#pragma once

#include <cstddef>
#include <cstdint>

#include "tarn_uart.h"

inline constexpr uint8_t kFmuSuperPacketStart = 0x02;
inline constexpr uint16_t kFmuSuperMaxData = 2064;
inline constexpr size_t kFmuSuperPacketHeader = 7;
// Data goes to offset 7; its CRC always to the last two bytes, behind the largest data.
inline constexpr size_t kFmuSuperRecvBuffer = 2073;
inline constexpr size_t kFmuSuperRecvDataCrcAt = 2071;
inline constexpr uint32_t kFmuSuperRecvLimit = 512;
inline constexpr size_t kFmuSuperHeaderLength = 256;

enum FmuSuperCommand : uint16_t {
    kFmuSuperHandshake = 0x0000,
    kFmuSuperHandshakeAnswer = 0x0001,
    kFmuSuperErase = 0x0110,
    kFmuSuperEraseAnswer = 0x0111,
    kFmuSuperProgram = 0x0310,
    kFmuSuperProgramAnswer = 0x0311,
    kFmuSuperFinish = 0x0400,
    kFmuSuperFinishAnswer = 0x0401,
};

int Main_UpgradeFmuSuper(int argc, char *argv[]);

int superfmu_upgrade(const char *path);
int fmu_doUpgrade();
int fmu_sync();
int fmu_erase();
int fmu_program();
int fmu_verify();
int fmu_checkUpgradeFile();
int fmu_getFileBuf();
uint32_t fmu_getFileSize(const char *path);
int fmu_rebootToBootloader();
int fmu_rebootToApp();
int fmu_recv(uint8_t *buffer, uint32_t count, uint32_t timeoutMs);
int fmu_send(const uint8_t *buffer, uint32_t count);
int crc16SendPacket(const uint8_t *data, uint16_t length, uint16_t command);
int crc16RecvPacket(uint8_t *buffer, uint32_t timeoutMs);
void fmu_getProgress(uint32_t *progress);

// The header test of an upgrade file of fileSize bytes held in buffer (bufferLength bytes, at least the file):
// 0, or -1 after its line (an identity mismatch has none).
int FmuSuper_CheckHeader(const uint8_t *buffer, size_t bufferLength, uint32_t fileSize);
// The packet as it goes on the wire; its length, or 0 when the data is too long.
size_t FmuSuper_BuildPacket(uint8_t *packet, const uint8_t *data, uint16_t length, uint16_t command);
// The line the protocol operations read and write (superfmu_upgrade sets it; a fuzz harness hands in its own).
void FmuSuper_SetPort(Uart *port);
// The fragment length the last erase answer named.
uint16_t FmuSuper_FragmentLength();
