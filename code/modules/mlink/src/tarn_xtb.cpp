#include "tarn_xtb.h"

#include <array>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include "tarn_byte_order.h"
#include "tarn_console.h"
#include "tarn_mutex.h"
#include "tarn_numbered_file.h"
#include "tarn_system.h"
#include "tarn_xtb_link.h"

namespace {

// Lock indexes of the link's configuration.
enum LockIndex : size_t { kAckLock, kImuPositionLock, kMotorValueLock, kEventLock, kBmsDataLock };

constexpr uint8_t kReportEcho = 0x70;
constexpr uint8_t kReportImuPosition = 0x71;
constexpr uint8_t kReportMotorValue = 0x72;
constexpr uint8_t kReportEvent = 0x73;
constexpr uint8_t kReportBmsData = 0x74;
constexpr uint8_t kReportLog = 0x75;
constexpr size_t kLogValues = 20;
constexpr const char kLogDir[] = "/tmp/SD0/MISC/";
// The numbering reads the first 32 characters of each name.
constexpr size_t kLogNameChars = 32;

struct Axes {
    int16_t pitch;
    int16_t roll;
    int16_t yaw;
};

struct Event {
    uint8_t type;
    uint8_t value;
};

// 256 reports; the indexes count upwards and an entry is empty when all its bytes are 0. Stored by the
// receive thread, taken by the caller's thread, both under the ring's own lock.
template <typename Entry> class ReportRing {
public:
    // True, with the lost entry, when the oldest report had to make room.
    bool Store(Mutex *pLock, const Entry &entry, Entry *pLost) {
        MutexHold hold(pLock);
        Entry &slot = entries_[write_ % entries_.size()];
        const bool lost = !IsEmpty(slot);
        if (lost) {
            *pLost = slot;
            ++read_;
        }
        slot = entry;
        ++write_;
        return lost;
    }

    bool Take(Mutex *pLock, Entry *pEntry) {
        MutexHold hold(pLock);
        if (read_ >= write_) {
            return false;
        }
        Entry &slot = entries_[read_ % entries_.size()];
        *pEntry = slot;
        slot = Entry{};
        ++read_;
        return true;
    }

private:
    static bool IsEmpty(const Entry &entry) {
        static constexpr Entry kEmpty{};
        return memcmp(&entry, &kEmpty, sizeof(Entry)) == 0;
    }

    std::array<Entry, 256> entries_{};
    uint32_t read_ = 0;
    uint32_t write_ = 0;
};

ReportRing<Axes> gImuPositions;
ReportRing<Axes> gMotorValues;
ReportRing<Event> gEvents;

// Guarded by the "bms data" lock.
std::array<uint16_t, 4> gBmsData{};
// Caller's thread only (Xtb_GetBmsReport).
std::array<uint16_t, 4> gBmsHandedOut{};

// Receive thread only.
int gLogFd = -1;

Axes AxesOf(const MlinkMsg &msg) {
    return {static_cast<int16_t>(tarn::LoadLe16(msg.payload)), static_cast<int16_t>(tarn::LoadLe16(msg.payload + 2)),
            static_cast<int16_t>(tarn::LoadLe16(msg.payload + 4))};
}

int OpenNextLog() {
    char path[64];
    snprintf(path, sizeof(path), "%sxtblog_%04d", kLogDir, NumberedFile_Next(kLogDir, "xtblog", kLogNameChars));
    const int fd = open(path, O_RDWR | O_CREAT | O_EXCL | O_APPEND, 0644);
    if (fd < 0) {
        TARN_SYSERR("open");
        return -1;
    }
    TARN_INFO("open file '%s' and begin to record log.\n", path);
    return fd;
}

int Xtb_HdlRptLog(const MlinkMsg &msg) {
    if (gLogFd < 0) {
        gLogFd = OpenNextLog();
        if (gLogFd < 0) {
            return -1;
        }
    }
    // "%8.4lf  " of the largest float is under 60 characters.
    char line[kLogValues * 64 + 2];
    size_t used = 0;
    for (size_t index = 0; index < kLogValues; ++index) {
        const uint32_t bits = tarn::LoadLe32(msg.payload + index * 4);
        float value = 0;
        memcpy(&value, &bits, sizeof(value));
        used += static_cast<size_t>(snprintf(line + used, sizeof(line) - used, "%8.4lf  ", static_cast<double>(value)));
    }
    used += static_cast<size_t>(snprintf(line + used, sizeof(line) - used, "\n"));
    if (write(gLogFd, line, used) < 0) {
        TARN_SYSERR("write");
        close(gLogFd);
        gLogFd = -1;
        return -1;
    }
    return 0;
}

void Xtb_HdlRptPosition(const MlinkMsg &msg) {
    Axes lost{};
    if (gImuPositions.Store(Xtb_Link().NamedLock(kImuPositionLock), AxesOf(msg), &lost)) {
        TARN_WARN("overlay imu position: pitch=%d, roll=%d, Yaw=%d.\n", lost.pitch, lost.roll, lost.yaw);
    }
}

void Xtb_HdlRptMotorValue(const MlinkMsg &msg) {
    Axes lost{};
    if (gMotorValues.Store(Xtb_Link().NamedLock(kMotorValueLock), AxesOf(msg), &lost)) {
        TARN_WARN("overlay motor value: pitch=%d, roll=%d, Yaw=%d.\n", lost.pitch, lost.roll, lost.yaw);
    }
}

void Xtb_HdlRptEvent(const MlinkMsg &msg) {
    const Event event = {msg.payload[0], msg.payload[1]};
    if (event.type == 0) {
        return;
    }
    Event lost{};
    if (gEvents.Store(Xtb_Link().NamedLock(kEventLock), event, &lost)) {
        TARN_WARN("overlay event: type=0x%02x val=0x%02x.\n", lost.type, lost.value);
    }
    Xtb_Link().SendEcho(msg);
}

void Xtb_HdlRptBmsData(const MlinkMsg &msg) {
    MutexHold hold(Xtb_Link().NamedLock(kBmsDataLock));
    for (size_t index = 0; index < gBmsData.size(); ++index) {
        gBmsData[index] = tarn::LoadLe16(msg.payload + index * 2);
    }
}

void Xtb_HdlRptCmd(const MlinkMsg &msg) {
    switch (msg.cmd) {
        case kReportEcho:
            Xtb_Link().SendEcho(msg);
            break;
        case kReportImuPosition:
            Xtb_HdlRptPosition(msg);
            break;
        case kReportMotorValue:
            Xtb_HdlRptMotorValue(msg);
            break;
        case kReportEvent:
            Xtb_HdlRptEvent(msg);
            break;
        case kReportBmsData:
            Xtb_HdlRptBmsData(msg);
            break;
        case kReportLog:
            Xtb_HdlRptLog(msg);
            break;
        default:
            TARN_WARN("invalid report cmd: 0x%02x.\n", msg.cmd);
            break;
    }
}

bool IsReport(uint8_t cmd) {
    return (cmd & 0xF0) == 0x70;
}

int PortOfProject() {
    const int project = Tarn_Proj();
    switch (project) {
        case kProjectCommon:
        case kProjectRv310:
            return 2;
        case kProjectRv311:
            return 1;
        default:
            TARN_ERR("unknow proj=%d\n", project);
            return -1;
    }
}

constexpr MlinkLinkConfig XtbLinkConfig() {
    MlinkLinkConfig config{};
    config.devid = kMlinkDevIdXtb;
    config.pThreadName = "mlink_recv";
    config.lockNames[kAckLock] = "mlink";
    config.lockNames[kImuPositionLock] = "imu position";
    config.lockNames[kMotorValueLock] = "motor value";
    config.lockNames[kEventLock] = "event";
    config.lockNames[kBmsDataLock] = "bms data";
    config.lockCount = 5;
    config.portNumber = PortOfProject;
    config.pollStepMs = 100;
    config.scanBeforeSleep = false;
    config.gateFirstCmd = 0xF8;
    config.isReport = IsReport;
    config.onReport = Xtb_HdlRptCmd;
    return config;
}

MlinkLink gXtbLink(XtbLinkConfig());
XtbOps gXtbOps;

} // namespace

MlinkLink &Xtb_Link() {
    return gXtbLink;
}

int32_t Xtb_Create(XtbOps **ppXtb) {
    TARN_ASSERT(ppXtb);
    if (gXtbLink.Acquire() != 0) {
        return -1;
    }
    Xtb_FillOps(&gXtbOps);
    *ppXtb = &gXtbOps;
    return 0;
}

void Xtb_Delete(XtbOps **ppXtb) {
    TARN_ASSERT(ppXtb);
    gXtbLink.Release();
    *ppXtb = nullptr;
}

int32_t Xtb_GetUpgradeProgress(uint8_t *pProgress) {
    *pProgress = gXtbLink.Progress();
    return 0;
}

int32_t Xtb_PopImuPosition(int16_t *pPitch, int16_t *pRoll, int16_t *pYaw) {
    Axes axes{};
    if (!gImuPositions.Take(gXtbLink.NamedLock(kImuPositionLock), &axes)) {
        return -1;
    }
    *pPitch = axes.pitch;
    *pRoll = axes.roll;
    *pYaw = axes.yaw;
    return 0;
}

int32_t Xtb_PopMotorValue(int16_t *pPitch, int16_t *pRoll, int16_t *pYaw) {
    Axes axes{};
    if (!gMotorValues.Take(gXtbLink.NamedLock(kMotorValueLock), &axes)) {
        return -1;
    }
    *pPitch = axes.pitch;
    *pRoll = axes.roll;
    *pYaw = axes.yaw;
    return 0;
}

int32_t Xtb_PopEvent(uint8_t *pType, uint8_t *pValue) {
    Event event{};
    if (!gEvents.Take(gXtbLink.NamedLock(kEventLock), &event)) {
        return -1;
    }
    *pType = event.type;
    *pValue = event.value;
    return 0;
}

int32_t Xtb_GetBmsReport(uint16_t *pVoltage, uint16_t *pTemperature, uint16_t *pCurrent, uint16_t *pRemain) {
    {
        MutexHold hold(gXtbLink.NamedLock(kBmsDataLock));
        if (gBmsData == gBmsHandedOut) {
            return -1;
        }
        gBmsHandedOut = gBmsData;
    }
    *pVoltage = gBmsHandedOut[0];
    *pTemperature = gBmsHandedOut[1];
    *pCurrent = gBmsHandedOut[2];
    *pRemain = gBmsHandedOut[3];
    return 0;
}
