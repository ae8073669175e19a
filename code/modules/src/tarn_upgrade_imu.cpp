#include "tarn_upgrade_imu.h"

#include <cstdio>
#include <cstring>
#include <iterator>

#include "tarn_board.h"
#include "tarn_byte_order.h"
#include "tarn_console.h"
#include "tarn_crc.h"
#include "tarn_device_upgrade.h"
#include "tarn_fdio.h"
#include "tarn_time.h"

namespace {

constexpr const char *kUsageLines[] = {"usage: ", "| ", "eg: upgrade_imu [file_path] "};
constexpr const char *kSiblingStops[] = {"killall -9 AirLinkRelay", "killall -9 media_srv.out"};

static_assert(kBoardLineImu.device == nullptr || Fdio_IsSupportedBaudrate(kBoardLineImu.baudrate),
              "the board gives the IMU's line a speed the serial set-up cannot do");

constexpr uint32_t kBlockLength = 240;
constexpr uint32_t kReceiveWaitMs = 2000;
constexpr uint32_t kFirstAddress = 0x08008200;
constexpr uint32_t kCommandCode = 0x485;
constexpr uint32_t kDataCode = 0x385;
constexpr uint32_t kAckCode = 0x505;
constexpr uint8_t kAckMark = 0x0F; // argument byte 7 of an acknowledgement
constexpr uint8_t kPrepare = 0x11;
constexpr uint8_t kErase = 0x08;
constexpr uint8_t kRunToApp = 0x0A;
constexpr uint8_t kBlockHeader = 0x09;
constexpr uint8_t kAppInfoHeader = 0x04;
constexpr int kFailuresTolerated = 3;
constexpr uint64_t kFlagPauseUs = 500000;
constexpr uint64_t kRetryPauseUs = 1000000;

// The application-information record.
constexpr uint32_t kAppInfoLength = 184;
constexpr uint32_t kAppInfoMarker1 = 0xDEADDEAD;
constexpr uint32_t kAppInfoMarker2 = 0xDAEDDAED;
constexpr uint32_t kAppInfoVersionAt = 168;
constexpr char kAppInfoVersion[] = "VA000.0";
constexpr uint32_t kAppInfoCrcAt = 180;

constexpr uint32_t kScrambleGroup = sizeof(kBoardImuScrambleKey);

bool AcceptsAck(const MavlinkDeviceCommand &command) {
    return command.code == kAckCode && command.arguments[7] == kAckMark;
}

constexpr DeviceTool kImuDevice = {kMavlinkDeviceImu, kReceiveWaitMs, AcceptsAck};
constexpr UpgradeEntry kImuEntry = {Imu_Usage, kBlockLength, 0x00, 0, kSiblingStops, std::size(kSiblingStops)};

// One per process, used by the main thread only.
DeviceUpgrade g_imu;

void FilledArguments(uint8_t value, uint8_t arguments[kMavlinkDeviceArgumentCount]) {
    memset(arguments, value, kMavlinkDeviceArgumentCount);
}

void DescribeBlock(uint32_t offset, const uint8_t *block, uint32_t length, uint32_t, uint8_t arguments[],
                   uint32_t *dataCode) {
    const uint32_t address = kFirstAddress + offset;
    arguments[0] = kBlockHeader;
    tarn::StoreLe32(arguments + 1, address);
    arguments[5] = static_cast<uint8_t>(length - 1);
    tarn::StoreLe16(arguments + 6, Imu_Crc16(address, block, length));
    *dataCode = kDataCode;
}

void EncodeBlock(uint8_t *block, uint32_t length) {
    Imu_Encrypt(block, length);
}

} // namespace

void Imu_Usage() {
    for (const char *line : kUsageLines) {
        puts(line);
    }
}

int Imu_InitUart() {
    return Upgrade_OpenLine(kBoardLineImu, &g_imu.session);
}

void Imu_DeinitUart() {
    Upgrade_Leave(&g_imu.session);
}

int Imu_Recv(uint8_t *buffer, uint32_t count) {
    return Device_Recv(&g_imu, buffer, count);
}

int Imu_Send(const uint8_t *buffer, uint32_t count) {
    const FdioResult result = Fdio_WriteAll(g_imu.session.serialFd, buffer, count);
    FDIO_REPORT(result);
    return result.status == FdioStatus::Ok ? 0 : -1;
}

uint32_t Imu_GetFileSize(const char *path) {
    return Upgrade_GetFileSize(path);
}

int Imu_GetFileBuf() {
    return Upgrade_LoadImage(kImuEntry, &g_imu.session);
}

void Imu_FreeFileBuf() {
    g_imu.session.firmware = FirmwareImage();
}

int Imu_Encrypt(uint8_t *bytes, uint32_t length) {
    if (length % kScrambleGroup != 0) {
        TARN_ERR("len=%d is invalid.\n", static_cast<int>(length));
        return -1;
    }
    for (uint32_t group = 0; group < length; group += kScrambleGroup) {
        uint8_t mixed[kScrambleGroup];
        for (uint32_t index = 0; index < kScrambleGroup; ++index) {
            mixed[index] = bytes[group + index] ^ kBoardImuScrambleKey[index];
        }
        // Odd positions first, then the even ones.
        for (uint32_t index = 0; index < kScrambleGroup / 2; ++index) {
            bytes[group + index] = mixed[2 * index + 1];
            bytes[group + kScrambleGroup / 2 + index] = mixed[2 * index];
        }
    }
    return 0;
}

uint16_t Imu_Crc16(uint32_t address, const uint8_t *data, uint32_t length) {
    uint8_t prefix[4];
    tarn::StoreLe32(prefix, address);
    return Crc_Modbus(data, length, Crc_Modbus(prefix, sizeof(prefix)));
}

uint32_t Imu_Crc32(const uint8_t *data, uint32_t length, uint32_t crc) {
    return Crc_Crc32Words(data, length, crc);
}

int Imu_WaitAck() {
    return Device_WaitAck(&g_imu);
}

int Imu_SetFlag(int flag) {
    return Device_SetFlag(&g_imu, flag);
}

int Imu_Prepare() {
    uint8_t arguments[kMavlinkDeviceArgumentCount];
    FilledArguments(kPrepare, arguments);
    return Device_Command(&g_imu, kCommandCode, arguments);
}

int Imu_Erase() {
    uint8_t arguments[kMavlinkDeviceArgumentCount];
    FilledArguments(kErase, arguments);
    return Device_Command(&g_imu, kCommandCode, arguments);
}

int Imu_Program() {
    const DeviceBlockPlan plan = {g_imu.session.firmware.length,
                                  kBlockLength,
                                  kCommandCode,
                                  DescribeBlock,
                                  EncodeBlock,
                                  true,
                                  kFailuresTolerated,
                                  false};
    return Device_Program(&g_imu, plan);
}

int Imu_SetAppInfo() {
    const uint8_t header[kMavlinkDeviceArgumentCount] = {
        kAppInfoHeader, 0xFF, 0xFF, 0xFF, 0xFF, static_cast<uint8_t>(kAppInfoLength - 1), 0x00, 0x00};
    uint8_t record[kAppInfoLength];
    memset(record, 0xFF, sizeof(record));
    tarn::StoreLe32(record, kAppInfoMarker1);
    tarn::StoreLe32(record + 4, kAppInfoMarker2);
    memcpy(record + kAppInfoVersionAt, kAppInfoVersion, sizeof(kAppInfoVersion));
    tarn::StoreLe32(record + kAppInfoCrcAt, Imu_Crc32(record, kAppInfoCrcAt, 0));
    if (Device_Exchange(&g_imu, kCommandCode, header) != 0 ||
        Device_ExchangeData(&g_imu, kDataCode, record, kAppInfoLength) != 0) {
        TARN_ERR("send data but no ack.\n");
        return -1;
    }
    return 0;
}

int Imu_RunToApp() {
    uint8_t arguments[kMavlinkDeviceArgumentCount];
    FilledArguments(kRunToApp, arguments);
    if (Device_Command(&g_imu, kCommandCode, arguments) != 0) {
        return -1;
    }
    Time_SleepUs(kFlagPauseUs);
    return Imu_SetFlag(0);
}

int Imu_Upgrade() {
    Imu_SetFlag(1);
    Time_SleepUs(kFlagPauseUs);
    const DeviceStep steps[] = {
        {"step 1: prepare.\n", Imu_Prepare, "prepare fail.\n"},
        {"step 2: erase flash.\n", Imu_Erase, "erase fail.\n"},
        {"step 3: program flash\n", Imu_Program, "program fail.\n"},
        {"step 4: set app info.\n", Imu_SetAppInfo, "verify fail.\n"},
        {"step 5: run to app.\n", Imu_RunToApp, "run to app fail.\n"},
    };
    if (Device_RunSteps(steps, std::size(steps)) != 0) {
        Imu_SetFlag(0);
        return -1;
    }
    return 0;
}

int Main_UpgradeImu(int argc, char *argv[]) {
    g_imu = DeviceUpgrade();
    g_imu.tool = &kImuDevice;
    if (Upgrade_Enter(kImuEntry, kBoardLineImu, argc, argv, &g_imu.session) != 0) {
        return -1;
    }
    int result = Imu_Upgrade();
    if (result != 0) {
        TARN_WARN("upgrade imu fail and try it again.\n");
        Time_SleepUs(kRetryPauseUs);
        Device_Resynchronise(&g_imu);
        result = Imu_Upgrade();
        if (result != 0) {
            TARN_ERR("upgrade imu fail.\n");
        }
    }
    Upgrade_Leave(&g_imu.session);
    return result == 0 ? 0 : -1;
}
