#include "tarn_upgrade_bms.h"

#include <cstdio>
#include <iterator>

#include "tarn_board.h"
#include "tarn_byte_order.h"
#include "tarn_console.h"
#include "tarn_crc.h"
#include "tarn_device_upgrade.h"
#include "tarn_fdio.h"
#include "tarn_time.h"

namespace {

constexpr const char *kUsageLines[] = {"usage: ", "| ", "eg: upgrade_bms [file_path] "};
constexpr const char *kSiblingStops[] = {"killall -9 AirLinkRelay", "killall -9 media_srv.out"};

static_assert(kBoardLineBms.device == nullptr || Fdio_IsSupportedBaudrate(kBoardLineBms.baudrate),
              "the board gives the battery's line a speed the serial set-up cannot do");

constexpr uint32_t kBlockLength = 240;
// The battery answers slowly; each byte may take this long.
constexpr uint32_t kReceiveWaitMs = 5000;
// Lengths and offsets are 16-bit on the wire.
constexpr uint32_t kSizeLimit = 65536;
constexpr uint8_t kAckCodeLowByte = 0xFD;
constexpr uint32_t kEnterBootload = 0x0F0000EC;
constexpr uint32_t kRequest = 0x0F0000D1;
constexpr uint32_t kErase = 0x0F0000D2;
constexpr uint32_t kBlockHeader = 0x0F0000D5;
constexpr uint32_t kBlockData = 0x0F0000D6;
constexpr uint32_t kRunToApp = 0x0F0000D4;
constexpr int kFailuresTolerated = 3;
constexpr uint64_t kFlagPauseUs = 500000;
constexpr uint64_t kEnterPauseUs = 2000000;
constexpr uint64_t kRetryPauseUs = 1000000;

bool AcceptsAck(const MavlinkDeviceCommand &command) {
    return (command.code & 0xFF) == kAckCodeLowByte;
}

constexpr DeviceTool kBmsDevice = {kMavlinkDeviceBms, kReceiveWaitMs, AcceptsAck};
constexpr UpgradeEntry kBmsEntry = {Bms_Usage, 0, 0x00, kSizeLimit, kSiblingStops, std::size(kSiblingStops)};

// One per process, used by the main thread only.
DeviceUpgrade g_bms;

void DescribeBlock(uint32_t offset, const uint8_t *block, uint32_t length, uint32_t, uint8_t arguments[],
                   uint32_t *dataCode) {
    tarn::StoreLe16(arguments, static_cast<uint16_t>(length));
    tarn::StoreLe16(arguments + 2, static_cast<uint16_t>(offset));
    tarn::StoreLe16(arguments + 4, Bms_Crc16(block, length));
    *dataCode = kBlockData;
}

int Plain(uint32_t code) {
    const uint8_t arguments[kMavlinkDeviceArgumentCount] = {};
    return Device_Command(&g_bms, code, arguments);
}

} // namespace

void Bms_Usage() {
    for (const char *line : kUsageLines) {
        puts(line);
    }
}

int Bms_InitUart() {
    return Upgrade_OpenLine(kBoardLineBms, &g_bms.session);
}

uint16_t Bms_Crc16(const uint8_t *data, uint32_t length) {
    return Crc_CcittFalse(data, length);
}

int Bms_WaitAck() {
    return Device_WaitAck(&g_bms);
}

int Bms_SetFlag(int flag) {
    return Device_SetFlag(&g_bms, flag);
}

int Bms_EnterBootload() {
    uint8_t arguments[kMavlinkDeviceArgumentCount] = {};
    for (size_t index = 0; index < sizeof(kBoardBmsEntryCode); ++index) {
        arguments[index] = kBoardBmsEntryCode[index];
    }
    return Device_Command(&g_bms, kEnterBootload, arguments);
}

int Bms_Request() {
    return Plain(kRequest);
}

int Bms_Erase() {
    return Plain(kErase);
}

int Bms_Program() {
    const DeviceBlockPlan plan = {g_bms.session.firmware.size, kBlockLength, kBlockHeader, DescribeBlock, nullptr, true,
                                  kFailuresTolerated,          true};
    return Device_Program(&g_bms, plan);
}

int Bms_RunToApp() {
    if (Plain(kRunToApp) != 0) {
        return -1;
    }
    Time_SleepUs(kFlagPauseUs);
    return Bms_SetFlag(0);
}

int Bms_Upgrade() {
    Bms_SetFlag(1);
    Time_SleepUs(kFlagPauseUs);
    TARN_INFO("step 1: enter bootload.\n");
    // A battery already in its bootloader does not answer the entry code; it is taken on all the same.
    if (Bms_EnterBootload() != 0) {
        TARN_WARN("enter bootload fail and try it again.\n");
    }
    Time_SleepUs(kEnterPauseUs);
    const DeviceStep steps[] = {
        {"step 2: request upgrade.\n", Bms_Request, "request upgrade fail.\n"},
        {"step 3: erase flash.\n", Bms_Erase, "erase flash fail.\n"},
        {"step 4: program flash.\n", Bms_Program, "program flash fail.\n"},
        {"step 5: run to app.\n", Bms_RunToApp, "run to app fail.\n"},
    };
    if (Device_RunSteps(steps, std::size(steps)) != 0) {
        Bms_SetFlag(0);
        return -1;
    }
    return 0;
}

int Main_UpgradeBms(int argc, char *argv[]) {
    g_bms = DeviceUpgrade();
    g_bms.tool = &kBmsDevice;
    if (Upgrade_Enter(kBmsEntry, kBoardLineBms, argc, argv, &g_bms.session) != 0) {
        return -1;
    }
    int result = Bms_Upgrade();
    if (result != 0) {
        TARN_WARN("upgrade bms fail and try it again.\n");
        Time_SleepUs(kRetryPauseUs);
        Device_Resynchronise(&g_bms);
        result = Bms_Upgrade();
        if (result != 0) {
            TARN_ERR("upgrade bms fail.\n");
        }
    }
    Upgrade_Leave(&g_bms.session);
    return result == 0 ? 0 : -1;
}
