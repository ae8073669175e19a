// The start and end shared by the first-generation upgraders (flight controller, IMU, optical flow, battery,
// RC/RF): the image is loaded and checked first, then the line is taken, then the processes that share the
// line are stopped. A usage error, a bad file or a missing line therefore stops nothing and sends nothing.
#pragma once

#include <cstddef>
#include <cstdint>

#include "tarn_board.h"
#include "tarn_firmware_file.h"

// What one tool tells the entry about itself.
struct UpgradeEntry {
    void (*usage)();
    // Firmware_Load's padding rule: blocks of this length filled with fill, or the exact size for 0.
    uint32_t blockLength;
    uint8_t fill;
    // Images of this many bytes or more do not fit the device's size field (0: no limit).
    uint32_t sizeLimit;
    // Run through system() once the line is ours or held; their results do not matter.
    const char *const *siblingStops;
    size_t siblingStopCount;
};

// One tool run's image and line; owned by the tool's main thread.
struct UpgradeSession {
    const char *firmwarePath = nullptr;
    uint32_t firmwareSize = 0;
    FirmwareImage firmware;
    int serialFd = -1;
};

inline constexpr uint32_t kUpgradeSizeUnknown = 0xFFFFFFFF;

// The file's size, or kUpgradeSizeUnknown after the failed call's line.
uint32_t Upgrade_GetFileSize(const char *path);
// Loads session->firmwarePath of session->firmwareSize bytes by the entry's rule; 0, or -1 after the reason.
int Upgrade_LoadImage(const UpgradeEntry &entry, UpgradeSession *session);
// Opens the board's line into session->serialFd: "unsupport plat." for a board without it, the open's
// failure otherwise. Stops nothing.
int Upgrade_OpenLine(const BoardLine &line, UpgradeSession *session);

// argv[1] is the image: usage, load, line, sibling stops, then the begin line. 0 with the session ready, or
// -1 after the usage or the error lines, with nothing held.
int Upgrade_Enter(const UpgradeEntry &entry, const BoardLine &line, int argc, char *argv[], UpgradeSession *session);
// Closes the line and frees the image; harmless twice.
void Upgrade_Leave(UpgradeSession *session);
