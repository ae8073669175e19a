#include "tarn_upgrade_nimbo_super_bms.h"

#include "tarn_byte_order.h"
#include "tarn_console.h"
#include "tarn_device_upgrade.h"
#include "tarn_time.h"
#include "tarn_upgrade_nimbo_super_frame.h"

namespace {

constexpr uint8_t kDeviceId = 3;
constexpr uint8_t kEnterBootload = 0x10;
constexpr uint8_t kRequest = 0x07;
constexpr uint8_t kErase = 0x08;
constexpr uint8_t kProgram = 0x09;
constexpr uint8_t kRunToApp = 0x0D;
constexpr uint8_t kGetVersion = 0x02;
constexpr uint8_t kGetPercent = 0x12;
// Unconfirmed: the battery bootloader's entry code is fixed by the device and not published to us; these are
// the bytes our bench battery expects until the maker's value is known.
constexpr uint8_t kBootEntryCode[4] = {0x42, 0x4D, 0x53, 0x55};
constexpr uint32_t kFlagSettleUs = 500000;
constexpr uint32_t kBootSettleUs = 2000000;

SuperLink link{kDeviceId, SuperFrame_CrcCcitt, 5000, 10, nullptr, 0, {}, {}};
FirmwareImage image;
// Written by the upgrade, read by a progress reader that may run on another thread.
std::atomic<uint32_t> progress{0};

int bms_setFlag(uint8_t flag) {
    return SuperFrame_SetFlag(&link, kSuperFlagCode, flag);
}

int bms_enterBootload() {
    return SuperFrame_Command(&link, SuperFrame_Code(kEnterBootload), kEnterBootload, kBootEntryCode,
                              sizeof kBootEntryCode);
}

int bms_request() {
    return SuperFrame_Command(&link, SuperFrame_Code(kRequest), kRequest, nullptr, 0);
}

int bms_erase() {
    return SuperFrame_Command(&link, SuperFrame_Code(kErase), kErase, nullptr, 0);
}

int bms_program() {
    const SuperProgram program{SuperFrame_Code(kProgram), kProgram, link.replyWaitS, false, 0, 0, 0};
    return SuperFrame_Program(&link, program, image.bytes.get(), image.size, &progress);
}

int bms_runToApp() {
    return SuperFrame_RunToApp(&link, SuperFrame_Code(kRunToApp), kSuperFlagCode);
}

constexpr DeviceStep kSteps[] = {
    {"step 2: request upgrade.\n", bms_request, "request upgrade fail.\n"},
    {"step 3: erase flash.\n", bms_erase, "erase flash fail.\n"},
    {"step 4: program flash.\n", bms_program, "program flash fail.\n"},
    {"step 5: run to app.\n", bms_runToApp, "run to app fail.\n"},
};

int bms_doUpgrade() {
    progress = 0;
    bms_setFlag(1);
    Time_SleepUs(kFlagSettleUs);
    TARN_INFO("step 1: enter bootload.\n");
    // A battery already in its bootloader does not answer the entry code: carry on.
    if (bms_enterBootload() != 0) {
        TARN_WARN("enter bootload fail and try it again.\n");
    }
    Time_SleepUs(kBootSettleUs);
    if (Device_RunSteps(kSteps, sizeof kSteps / sizeof kSteps[0]) != 0) {
        bms_setFlag(0);
        return -1;
    }
    return 0;
}

constexpr SuperEntry kEntry{{"stStat\n", "open error \n", "read error\n", "malloc error\n"},
                            0,
                            3,
                            "upgrade bms fail and try it again.\n",
                            "upgrade bms fail.\n",
                            1000,
                            1000,
                            bms_doUpgrade};

uint32_t FirmwareVersion(const uint8_t *data) {
    return tarn::LoadBe32(data);
}
uint32_t HardwareVersion(const uint8_t *data) {
    return tarn::LoadBe32(data + 4);
}
uint32_t Percent(const uint8_t *data) {
    return data[0];
}

SuperQuery Query(uint8_t command, uint8_t length, uint32_t (*read)(const uint8_t *)) {
    return {kSuperFlagCode, SuperFrame_Code(command), command, length, length, false, link.replyWaitS, read};
}

} // namespace

int bms_upgrade(const char *path) {
    return SuperFrame_RunEntry(&link, kEntry, path, &image);
}

int bms_getVer(uint32_t *version) {
    return SuperFrame_Query(&link, Query(kGetVersion, 8, FirmwareVersion), version);
}

int bms_getHwVer(uint32_t *version) {
    return SuperFrame_Query(&link, Query(kGetVersion, 8, HardwareVersion), version);
}

int bms_getPercent(uint32_t *percent) {
    return SuperFrame_Query(&link, Query(kGetPercent, 1, Percent), percent);
}

int bms_getProgress(uint32_t *value) {
    *value = progress;
    return 0;
}
