#include "tarn_upgrade_entry.h"

#include <cstdlib>
#include <unistd.h>

#include "tarn_console.h"
#include "tarn_fdio.h"
#include "tarn_time.h"

namespace {

// A stopped sibling lets go of the line as it exits, a moment after killall has returned.
constexpr uint32_t kLineReleaseWaitMs = 1000;
constexpr uint64_t kLineRetryPauseUs = 100000;

void StopSiblings(const UpgradeEntry &entry) {
    for (size_t index = 0; index < entry.siblingStopCount; ++index) {
        const int ignored = system(entry.siblingStops[index]);
        (void)ignored;
    }
}

// The siblings are stopped once the line is ours, or when it is held (by one of them, as a rule); a missing or
// broken line stops nothing. A held line is asked for again for as long as the stopped siblings take to exit.
int OpenLineStoppingSiblings(const UpgradeEntry &entry, const BoardLine &line, UpgradeSession *session) {
    if (line.device == nullptr) {
        return Upgrade_OpenLine(line, session);
    }
    FdioResult opened = Fdio_OpenSerial(line.device, line.baudrate, &session->serialFd);
    const bool held = Fdio_LineInUse(opened);
    if (opened.status == FdioStatus::Ok || held) {
        StopSiblings(entry);
    }
    const uint32_t start = Time_GetMs();
    while (held && Fdio_LineInUse(opened) && Time_GetMs() - start < kLineReleaseWaitMs) {
        Time_SleepUs(kLineRetryPauseUs);
        opened = Fdio_OpenSerial(line.device, line.baudrate, &session->serialFd);
    }
    FDIO_REPORT_OPEN(opened, line.device);
    return opened.status == FdioStatus::Ok ? 0 : -1;
}

} // namespace

uint32_t Upgrade_GetFileSize(const char *path) {
    uint32_t size = 0;
    if (Firmware_GetSize(path, &size) != 0) {
        TARN_SYSERR("stat");
        return kUpgradeSizeUnknown;
    }
    return size;
}

int Upgrade_LoadImage(const UpgradeEntry &entry, UpgradeSession *session) {
    const FirmwareLoad load =
        Firmware_Load(session->firmwarePath, session->firmwareSize, entry.blockLength, entry.fill, &session->firmware);
    FIRMWARE_REPORT(load, session->firmwareSize);
    return load.status == FirmwareStatus::Ok ? 0 : -1;
}

int Upgrade_OpenLine(const BoardLine &line, UpgradeSession *session) {
    if (line.device == nullptr) {
        TARN_WARN("unsupport plat.\n");
        return -1;
    }
    const FdioResult result = Fdio_OpenSerial(line.device, line.baudrate, &session->serialFd);
    FDIO_REPORT_OPEN(result, line.device);
    return result.status == FdioStatus::Ok ? 0 : -1;
}

int Upgrade_Enter(const UpgradeEntry &entry, const BoardLine &line, int argc, char *argv[], UpgradeSession *session) {
    if (argc != 2) {
        entry.usage();
        return -1;
    }
    *session = UpgradeSession();
    session->firmwarePath = argv[1];
    session->firmwareSize = Upgrade_GetFileSize(session->firmwarePath);
    // A failed size query stops here: no buffer may be sized from the failure value. An empty or oversized file
    // gets the unreadable file's line alone: there is nothing to flash, or the device could not be told its size.
    const uint32_t size = session->firmwareSize;
    if (size == kUpgradeSizeUnknown || size == 0 || (entry.sizeLimit != 0 && size >= entry.sizeLimit) ||
        Upgrade_LoadImage(entry, session) != 0) {
        TARN_ERR("get file buf fail.\n");
        Upgrade_Leave(session);
        return -1;
    }
    if (OpenLineStoppingSiblings(entry, line, session) != 0) {
        TARN_ERR("init uart fail.\n");
        Upgrade_Leave(session);
        return -1;
    }
    TARN_INFO("begin to upgrade file='%s' size=%d to firmware.\n", session->firmwarePath, static_cast<int>(size));
    return 0;
}

void Upgrade_Leave(UpgradeSession *session) {
    if (session->serialFd >= 0) {
        close(session->serialFd);
        session->serialFd = -1;
    }
    session->firmware = FirmwareImage();
}
