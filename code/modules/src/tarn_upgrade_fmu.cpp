#include "tarn_upgrade_fmu.h"

#include <array>
#include <cstdio>
#include <cstring>
#include <iterator>

#include "tarn_board.h"
#include "tarn_byte_order.h"
#include "tarn_console.h"
#include "tarn_crc.h"
#include "tarn_fdio.h"
#include "tarn_firmware_file.h"
#include "tarn_time.h"
#include "tarn_upgrade_entry.h"

namespace {

constexpr const char *kUsageLines[] = {"usage: ", "| ", "eg: upgrade_fmu [file_path] "};

// The processes that hold the flight controller's line while the aircraft runs.
constexpr const char *kSiblingStops[] = {"killall -9 AirLinkRelay", "killall -9 media_srv.out"};

static_assert(kBoardLineFmu.device == nullptr || Fdio_IsSupportedBaudrate(kBoardLineFmu.baudrate),
              "the board gives the flight controller's line a speed the serial set-up cannot do");

constexpr uint32_t kChunkLength = 60;
constexpr uint8_t kImageFill = 0xFF;
constexpr uint32_t kReceiveWaitMs = 3000;
// A flight controller still running its application never falls silent; the drain gives up on it.
constexpr uint32_t kDrainLimitMs = 10000;
constexpr uint64_t kRestartPauseUs = 5000000;
constexpr uint64_t kErasePauseUs = 8000000;
constexpr int kSyncAttempts = 5;
constexpr int kEraseReplyAttempts = 3;
constexpr uint32_t kCheckedRevision = 4;

constexpr std::array<uint8_t, 256> ErasedBytes() {
    std::array<uint8_t, 256> erased{};
    for (uint8_t &byte : erased) {
        byte = 0xFF;
    }
    return erased;
}

// What the CRC sees of flash past the image.
constexpr std::array<uint8_t, 256> kErased = ErasedBytes();

constexpr size_t kSyncFillerLength = 66;
constexpr size_t kProgramLeadInLength = 128;

// The restart request is COMMAND_LONG 246 (param1 3, param2 2) from system 255, component 0, to system 1,
// component 0, confirmation 1, always with sequence 5.
constexpr uint16_t kCommandRestart = 246;
constexpr uint8_t kRestartSystemId = 255;
constexpr uint8_t kRestartSequence = 5;
constexpr uint8_t kFlightControllerSystemId = 1;

constexpr UpgradeEntry kFmuEntry = {Fmu_Usage, kChunkLength, kImageFill, 0, kSiblingStops, std::size(kSiblingStops)};

// One per process, used by the main thread only.
UpgradeSession g_fmu;

void PrintProgress(uint32_t remaining) {
    printf("\r%4.1f%%", 100.0 - remaining * 100.0 / g_fmu.firmwareSize);
    fflush(stdout);
}

} // namespace

void Fmu_Usage() {
    for (const char *line : kUsageLines) {
        puts(line);
    }
}

int Fmu_InitUart() {
    return Upgrade_OpenLine(kBoardLineFmu, &g_fmu);
}

void Fmu_SetLine(int fd) {
    g_fmu.serialFd = fd;
}

void Fmu_DeinitUart() {
    Upgrade_Leave(&g_fmu);
}

int Fmu_Recv(uint8_t *buffer, uint32_t count) {
    const FdioResult result = Fdio_ReadExact(g_fmu.serialFd, buffer, count, kReceiveWaitMs);
    FDIO_REPORT(result);
    return result.status == FdioStatus::Ok ? 0 : -1;
}

int Fmu_Send(const uint8_t *buffer, uint32_t count) {
    const FdioResult result = Fdio_WriteAll(g_fmu.serialFd, buffer, count);
    FDIO_REPORT(result);
    return result.status == FdioStatus::Ok ? 0 : -1;
}

uint32_t Fmu_GetFileSize(const char *path) {
    return Upgrade_GetFileSize(path);
}

int Fmu_GetFileBuf() {
    return Upgrade_LoadImage(kFmuEntry, &g_fmu);
}

void Fmu_FreeFileBuf() {
    g_fmu.firmware = FirmwareImage();
}

uint32_t Fmu_Crc32(const uint8_t *data, uint32_t length, uint32_t crc) {
    return Crc_Crc32Raw(data, length, crc);
}

void Fmu_Flush() {
    if (Fdio_DrainUntilSilent(Fmu_Recv, kDrainLimitMs)) {
        TARN_WARN("read timeout.\n");
    }
}

int Fmu_GetSync() {
    uint8_t reply[2] = {};
    if (Fmu_Recv(reply, sizeof(reply)) != 0) {
        TARN_ERR("recv data fail.\n");
        return -1;
    }
    if (reply[0] != kFmuInSync || reply[1] != kFmuOk) {
        TARN_ERR("bad sync 0x%02x,0x%02x \n", reply[0], reply[1]);
        return -1;
    }
    return 0;
}

int Fmu_Sync() {
    Fmu_Flush();
    const std::array<uint8_t, kSyncFillerLength> fillers = {kFmuNoOperation};
    Fmu_Send(fillers.data(), fillers.size());
    Fmu_Send(fillers.data(), fillers.size());
    const uint8_t command[] = {kFmuGetSync, kFmuEndOfCommand};
    Fmu_Send(command, sizeof(command));
    return Fmu_GetSync();
}

int Fmu_GetInfo(uint8_t parameter, uint32_t *value) {
    const uint8_t command[] = {kFmuGetDeviceInfo, parameter, kFmuEndOfCommand};
    Fmu_Send(command, sizeof(command));
    uint8_t reply[4] = {};
    if (Fmu_Recv(reply, sizeof(reply)) != 0) {
        TARN_ERR("recv data fail.\n");
        return -1;
    }
    *value = tarn::LoadLe32(reply);
    return Fmu_GetSync();
}

int Fmu_Erase() {
    const uint8_t command[] = {kFmuChipErase, kFmuEndOfCommand};
    Fmu_Send(command, sizeof(command));
    // The bootloader answers only once the whole chip is erased.
    Time_SleepUs(kErasePauseUs);
    for (int attempt = 0; attempt < kEraseReplyAttempts; ++attempt) {
        if (Fmu_GetSync() == 0) {
            return 0;
        }
        TARN_WARN("get sync fail and try it again...\n");
    }
    return -1;
}

int Fmu_Program() {
    const std::array<uint8_t, kProgramLeadInLength> leadIn = {kFmuNoOperation};
    Fmu_Send(leadIn.data(), leadIn.size());

    std::array<uint8_t, 3 + kChunkLength> packet = {kFmuProgramMultiple, static_cast<uint8_t>(kChunkLength)};
    packet.back() = kFmuEndOfCommand;
    const uint8_t *image = g_fmu.firmware.bytes.get();
    uint32_t remaining = g_fmu.firmware.length;
    for (uint32_t offset = 0; remaining > 0; offset += kChunkLength) {
        memcpy(&packet[2], image + offset, kChunkLength);
        Fmu_Send(packet.data(), packet.size());
        if (Fmu_GetSync() != 0) {
            TARN_ERR("get sync fail.\n");
            return -1;
        }
        remaining -= kChunkLength;
        PrintProgress(remaining);
    }
    printf("\n");
    return 0;
}

int Fmu_Verify() {
    uint32_t revision = 0;
    if (Fmu_GetInfo(kFmuInfoRevision, &revision) != 0) {
        TARN_ERR("get bootloader revision fail.\n");
        return -1;
    }
    if (revision != kCheckedRevision) {
        TARN_WARN("unsupport bootload version %d.\n", static_cast<int>(revision));
        return 0;
    }
    uint32_t flashSize = 0;
    if (Fmu_GetInfo(kFmuInfoFlashSize, &flashSize) != 0) {
        TARN_INFO("could not read firmware size");
        return -1;
    }

    // The bootloader checks its whole application area, erased bytes included.
    const uint32_t length = g_fmu.firmware.length;
    uint32_t expected = Fmu_Crc32(g_fmu.firmware.bytes.get(), length, 0);
    for (uint32_t left = flashSize > length ? flashSize - length : 0; left > 0;) {
        const uint32_t piece = left < kErased.size() ? left : static_cast<uint32_t>(kErased.size());
        expected = Fmu_Crc32(kErased.data(), piece, expected);
        left -= piece;
    }

    const uint8_t command[] = {kFmuGetCrc, kFmuEndOfCommand};
    Fmu_Send(command, sizeof(command));
    uint8_t reply[4] = {};
    if (Fmu_Recv(reply, sizeof(reply)) != 0) {
        TARN_ERR("did not receive CRC checksum");
        return -1;
    }
    const uint32_t received = tarn::LoadLe32(reply);
    // A flight controller is never started on an image that its bootloader reports as different.
    if (received != expected) {
        TARN_WARN("CRC wrong: received: 0x%x, expected: 0x%x\n", received, expected);
        return -1;
    }
    return 0;
}

int Fmu_Reboot() {
    const uint8_t command[] = {kFmuReboot, kFmuEndOfCommand};
    Fmu_Send(command, sizeof(command));
    return 0;
}

uint16_t Fmu_PackRebootToBootloader(uint8_t (&frame)[kMavlinkMaxFrameLength]) {
    MavlinkCommandLong command{};
    command.params[0] = 3.0f;
    command.params[1] = 2.0f;
    command.command = kCommandRestart;
    command.targetSystem = kFlightControllerSystemId;
    command.targetComponent = 0;
    command.confirmation = 1;
    MavlinkChannels channels{};
    channels.statuses[0].currentTxSequence = kRestartSequence;
    MavlinkMessage message{};
    Mavlink_EncodeCommandLong(&channels, kRestartSystemId, 0, &message, &command);
    return Mavlink_MsgToSendBuffer(frame, &message);
}

int Fmu_RebootToBootloader() {
    uint8_t frame[kMavlinkMaxFrameLength];
    const uint16_t length = Fmu_PackRebootToBootloader(frame);
    return Fmu_Send(frame, length);
}

int Fmu_Upgrade() {
    TARN_INFO("step 1: reboot fmu.\n");
    Fmu_RebootToBootloader();
    Time_SleepUs(kRestartPauseUs);

    TARN_INFO("step 2: bootload sync.\n");
    for (int attempt = 1; Fmu_Sync() != 0; ++attempt) {
        if (attempt == kSyncAttempts) {
            return -1;
        }
        TARN_WARN("bootloader not responding and try it again.\n");
    }

    TARN_INFO("step 3: erase flash.\n");
    if (Fmu_Erase() != 0) {
        TARN_ERR("Fmu_Erase fail.\n");
        return -1;
    }

    TARN_INFO("step 4: program flash\n");
    if (Fmu_Program() != 0) {
        TARN_ERR("program fail.\n");
        return -1;
    }

    TARN_INFO("step 5: verify flash.\n");
    if (Fmu_Verify() != 0) {
        TARN_ERR("verify fail.\n");
        return -1;
    }

    TARN_INFO("step 6: reboot fmu.\n");
    return Fmu_Reboot();
}

int Main_UpgradeFmu(int argc, char *argv[]) {
    if (Upgrade_Enter(kFmuEntry, kBoardLineFmu, argc, argv, &g_fmu) != 0) {
        return -1;
    }
    int result = Fmu_Upgrade();
    if (result != 0) {
        TARN_WARN("upgrade fmu fail and try it again.\n");
        result = Fmu_Upgrade();
        if (result != 0) {
            TARN_ERR("upgrade fmu fail.\n");
        }
    }
    Upgrade_Leave(&g_fmu);
    return result == 0 ? 0 : -1;
}
