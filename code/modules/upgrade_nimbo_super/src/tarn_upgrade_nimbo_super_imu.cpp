#include "tarn_upgrade_nimbo_super_imu.h"

#include "tarn_byte_order.h"
#include "tarn_console.h"
#include "tarn_device_upgrade.h"
#include "tarn_time.h"
#include "tarn_upgrade_nimbo_super_frame.h"

namespace {

constexpr uint8_t kDeviceId = 1;
constexpr uint8_t kPrepare = 0x10;
constexpr uint8_t kErase = 0x08;
constexpr uint8_t kProgram = 0x09;
constexpr uint8_t kRunToApp = 0x0D;
constexpr uint8_t kGetVersion = 0x02;
constexpr uint32_t kFlagSettleUs = 500000;

SuperLink link{kDeviceId, SuperFrame_CrcCcitt, 5000, 10, nullptr, 0, {}, {}};
FirmwareImage image;
// Written by the upgrade, read by a progress reader that may run on another thread.
std::atomic<uint32_t> progress{0};

int imu_setFlag(uint8_t flag) {
    return SuperFrame_SetFlag(&link, kSuperFlagCode, flag);
}

int imu_prepare() {
    return SuperFrame_Command(&link, SuperFrame_Code(kPrepare), kPrepare, nullptr, 0);
}

int imu_erase() {
    return SuperFrame_Command(&link, SuperFrame_Code(kErase), kErase, nullptr, 0);
}

int imu_program() {
    const SuperProgram program{SuperFrame_Code(kProgram), kProgram, link.replyWaitS, false, 0, 0, 0};
    return SuperFrame_Program(&link, program, image.bytes.get(), image.size, &progress);
}

int imu_runToApp() {
    return SuperFrame_RunToApp(&link, SuperFrame_Code(kRunToApp), kSuperFlagCode);
}

// The device takes its application information from the image itself: the step is announced, nothing sent.
int imu_setAppInfo() {
    return 0;
}

constexpr DeviceStep kSteps[] = {
    {"step 1: prepare.\n", imu_prepare, "prepare fail.\n"},
    {"step 2: erase flash.\n", imu_erase, "erase fail.\n"},
    {"step 3: program flash\n", imu_program, "program fail.\n"},
    {"step 4: set app info.\n", imu_setAppInfo, ""},
    {"step 5: run to app.\n", imu_runToApp, "run to app fail.\n"},
};

int imu_doUpgrade() {
    imu_setFlag(1);
    Time_SleepUs(kFlagSettleUs);
    if (Device_RunSteps(kSteps, sizeof kSteps / sizeof kSteps[0]) != 0) {
        imu_setFlag(0);
        return -1;
    }
    return 0;
}

constexpr SuperEntry kEntry{{"stStat\n", "open error \n", "read error\n", "malloc error\n"},
                            0,
                            3,
                            "upgrade imu fail and try it again.\n",
                            "upgrade imu fail.\n",
                            1000,
                            0,
                            imu_doUpgrade};

uint32_t FirmwareVersion(const uint8_t *data) {
    return tarn::LoadBe32(data);
}

} // namespace

int imu_upgrade(const char *path) {
    return SuperFrame_RunEntry(&link, kEntry, path, &image);
}

int imu_GetVer(uint32_t *version) {
    const SuperQuery query{kSuperFlagCode, SuperFrame_Code(kGetVersion), kGetVersion, 8, 8, false, link.replyWaitS,
                           FirmwareVersion};
    return SuperFrame_Query(&link, query, version);
}

int imu_getProgress(uint32_t *value) {
    *value = progress;
    return 0;
}
