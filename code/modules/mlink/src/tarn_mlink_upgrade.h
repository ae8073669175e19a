// Firmware upgrade over an mlink link: flag, prepare, erase, program in chunks, verify the image's CRC, go to
// app. The gimbal board and the lens run the same procedure; what differs between them is this record.
#pragma once

#include <cstddef>
#include <cstdint>

class MlinkLink;

// The upgrade commands, the same for every mlink device's boot loader.
inline constexpr uint8_t kMlinkCmdFlag = 0xF8;
inline constexpr uint8_t kMlinkCmdPrepare = 0xF9;
inline constexpr uint8_t kMlinkCmdErase = 0xFA;
inline constexpr uint8_t kMlinkCmdProgram = 0xFB;
inline constexpr uint8_t kMlinkCmdVerify = 0xFC;
inline constexpr uint8_t kMlinkCmdGotoApp = 0xFD;

struct MlinkUpgradeDevice {
    MlinkLink &(*link)();
    // The gimbal board announces the upgrade with 0xF8 before it starts and after it ends.
    bool sendsFlag;
    // The target id leads every request payload and must come back in the acknowledgement's byte 0.
    bool addressesTarget;
    // The lens's boot loader expects its prepare command with sequence 0.
    bool prepareSequenceZero;
    uint32_t prepareTimeoutMs;
    uint32_t eraseTimeoutMs;
    // Image bytes per program command.
    size_t chunkMax;
    // The lens's verify payload carries one 0x00 after the CRC.
    bool verifyTrailingZero;
};

// The whole procedure; 0, or -1 after the failed step's lines. The image is loaded and checked before the first
// frame goes out. The link's upgrading flag is set throughout and its progress byte follows the program step.
int32_t Mlink_Upgrade(const MlinkUpgradeDevice &device, const char *pPath, uint8_t target);
