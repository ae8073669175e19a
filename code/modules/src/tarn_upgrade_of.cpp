#include "tarn_upgrade_of.h"

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

constexpr const char *kUsageLines[] = {"usage: ", "| ", "eg: upgrade_of [file_path] "};
constexpr const char *kSiblingStops[] = {"killall -9 AirLinkRelay", "killall -9 media_srv.out"};

static_assert(kBoardLineOf.device == nullptr || Fdio_IsSupportedBaudrate(kBoardLineOf.baudrate),
              "the board gives the optical-flow line a speed the serial set-up cannot do");

constexpr uint32_t kBlockLength = 240;
constexpr uint32_t kReceiveWaitMs = 2000;
constexpr uint8_t kAckCodeLowByte = 0xFD;
constexpr uint32_t kEnterBoot = 0x0F010110;
constexpr uint32_t kAppInfo = 0x0F010103;
constexpr uint32_t kRequest = 0x0F010107;
constexpr uint32_t kErase = 0x0F010108;
constexpr uint32_t kBlockHeader = 0x0F010111;
constexpr uint32_t kBlockData = 0x0F010109;
constexpr uint32_t kLastBlockData = 0x0F01010A;
constexpr uint32_t kVerify = 0x0F01010C;
constexpr uint32_t kRunToApp = 0x0F01010D;
constexpr uint64_t kFlagPauseUs = 500000;

bool AcceptsAck(const MavlinkDeviceCommand &command) {
    return (command.code & 0xFF) == kAckCodeLowByte;
}

constexpr DeviceTool kOfDevice = {kMavlinkDeviceFlow, kReceiveWaitMs, AcceptsAck};
constexpr UpgradeEntry kOfEntry = {Of_Usage, kBlockLength, 0x00, 0, kSiblingStops, std::size(kSiblingStops)};

// One per process, used by the main thread only.
DeviceUpgrade g_of;

void DescribeBlock(uint32_t, const uint8_t *block, uint32_t length, uint32_t remaining, uint8_t arguments[],
                   uint32_t *dataCode) {
    tarn::StoreLe16(arguments, static_cast<uint16_t>(Of_Crc32(block, length)));
    arguments[4] = static_cast<uint8_t>(length);
    *dataCode = remaining <= kBlockLength ? kLastBlockData : kBlockData;
}

int Plain(uint32_t code) {
    const uint8_t arguments[kMavlinkDeviceArgumentCount] = {};
    return Device_Command(&g_of, code, arguments);
}

} // namespace

void Of_Usage() {
    for (const char *line : kUsageLines) {
        puts(line);
    }
}

int Of_InitUart() {
    return Upgrade_OpenLine(kBoardLineOf, &g_of.session);
}

uint32_t Of_Crc32(const uint8_t *data, uint32_t length) {
    return Crc_Crc32Words(data, length, 0);
}

int Of_WaitAck() {
    return Device_WaitAck(&g_of);
}

int Of_SetFlag(int flag) {
    return Device_SetFlag(&g_of, flag);
}

int Of_EnterBoot() {
    return Device_Command(&g_of, kEnterBoot, kBoardOfEntryCode);
}

int Of_SetAppInfo() {
    uint8_t arguments[kMavlinkDeviceArgumentCount] = {};
    tarn::StoreLe32(arguments + 4, g_of.session.firmware.length);
    return Device_Command(&g_of, kAppInfo, arguments);
}

int Of_Request() {
    return Plain(kRequest);
}

int Of_Erase() {
    return Plain(kErase);
}

int Of_Program() {
    const DeviceBlockPlan plan = {
        g_of.session.firmware.length, kBlockLength, kBlockHeader, DescribeBlock, nullptr, false, 0, false};
    return Device_Program(&g_of, plan);
}

int Of_Verify() {
    uint8_t arguments[kMavlinkDeviceArgumentCount] = {};
    tarn::StoreLe32(arguments, Of_Crc32(g_of.session.firmware.bytes.get(), g_of.session.firmware.length));
    return Device_Command(&g_of, kVerify, arguments);
}

int Of_RunToApp() {
    return Plain(kRunToApp);
}

int Of_Upgrade() {
    Of_SetFlag(1);
    Time_SleepUs(kFlagPauseUs);
    const DeviceStep steps[] = {
        {"step 1: prepare.\n", Of_EnterBoot, "enter bootload fail.\n"},
        {"step 2: set app info.\n", Of_SetAppInfo, "set app info fail.\n"},
        {"step 3: request upgrade.\n", Of_Request, "request upgrade fail.\n"},
        {"step 4: erase flash.\n", Of_Erase, "erase flash fail.\n"},
        {"step 5: program flash.\n", Of_Program, "program flash fail.\n"},
        {"step 6: verify flash.\n", Of_Verify, "verify flash fail.\n"},
        {"step 7: run to app.\n", Of_RunToApp, "run to app fail.\n"},
    };
    if (Device_RunSteps(steps, std::size(steps)) != 0) {
        Of_SetFlag(0);
        return -1;
    }
    return 0;
}

int Main_UpgradeOf(int argc, char *argv[]) {
    g_of = DeviceUpgrade();
    g_of.tool = &kOfDevice;
    if (Upgrade_Enter(kOfEntry, kBoardLineOf, argc, argv, &g_of.session) != 0) {
        return -1;
    }
    // One run only: the sensor's bootloader takes no second request after a failed one.
    const int result = Of_Upgrade();
    if (result != 0) {
        TARN_ERR("upgrade of fail.\n");
    }
    Upgrade_Leave(&g_of.session);
    return result == 0 ? 0 : -1;
}
