#include "tarn_upgrade_rcrf.h"

#include <cstdio>
#include <cstring>
#include <iterator>
#include <termios.h>

#include "tarn_board.h"
#include "tarn_console.h"
#include "tarn_device_upgrade.h"
#include "tarn_fdio.h"
#include "tarn_time.h"
#include "tarn_upgrade_entry.h"

namespace {

constexpr const char *kUsageLines[] = {"usage: ", "| ", "eg: upgrade_rcrf [file_path] "};
constexpr const char *kSiblingStops[] = {"killall txlinkstate"};

static_assert(kBoardLineRc.device == nullptr || Fdio_IsSupportedBaudrate(kBoardLineRc.baudrate),
              "the board gives the RC line a speed the serial set-up cannot do");
static_assert(kBoardLineRf.device == nullptr || Fdio_IsSupportedBaudrate(kBoardLineRf.baudrate),
              "the board gives the RF line a speed the serial set-up cannot do");

struct Module {
    const char *toolName;
    uint8_t deviceId;
    const BoardLine &line;
};
constexpr Module kModules[] = {{"upgrade_rc", 1, kBoardLineRc}, {"upgrade_rf", 2, kBoardLineRf}};

constexpr uint8_t kRequest = 0x00;
constexpr uint8_t kAppInfo = 0x04;
constexpr uint8_t kErase = 0x07;
constexpr uint8_t kProgram = 0x08;
constexpr uint8_t kProgramLast = 0x09;
constexpr uint8_t kJump2App = 0x0B;
// Outside the frame layout: the application takes it without a device id and does not answer.
constexpr uint8_t kJump2Bootload[] = {0xAA, 0xE0, 0x00, 0x8C};

constexpr uint32_t kBlockLength = 240;
constexpr uint32_t kReceiveWaitMs = 2000;
// A module that keeps talking without acknowledging cannot hold a wait longer than this.
constexpr uint32_t kAckLimitMs = 10000;
constexpr uint64_t kBootloaderStartUs = 1000000;

constexpr UpgradeEntry kRcrfEntry = {Rcrf_Usage, 0, 0x00, 0, kSiblingStops, std::size(kSiblingStops)};

// One per process, used by the main thread only. The sequence runs on across both runs of the upgrade.
struct RcrfUpgradeContext {
    UpgradeSession session;
    const Module *module = nullptr;
    uint32_t sequence = 0;
    RcrfParser parser;
};
RcrfUpgradeContext g_rcrf;

const Module *ModuleOf(const char *invocation) {
    const char *name = tarn::BaseName(invocation);
    for (const Module &module : kModules) {
        if (strcmp(name, module.toolName) == 0) {
            return &module;
        }
    }
    return nullptr;
}

int ReceiveForWait(void *, uint8_t *buffer, uint32_t capacity) {
    return Rcrf_Recv(buffer, capacity) == 0 ? static_cast<int>(capacity) : -1;
}

// Drops unread input and restarts the parser, so a late acknowledgement cannot answer the frame sent next.
void Resynchronise() {
    tcflush(g_rcrf.session.serialFd, TCIFLUSH);
    Rcrf_ParserReset(&g_rcrf.parser, g_rcrf.module->deviceId);
}

void NextFrame(RcrfMsg *msg, uint8_t cmd, const uint8_t *data, uint8_t length) {
    Rcrf_Pack(msg, g_rcrf.module->deviceId, cmd, static_cast<uint8_t>(g_rcrf.sequence++), data, length);
}

int SendAndWait(const RcrfMsg &msg) {
    return Rcrf_SendMsg(msg) == 0 && Rcrf_WaitAck() == 0 ? 0 : -1;
}

int Command(uint8_t cmd, const uint8_t *data, uint8_t length) {
    RcrfMsg msg;
    NextFrame(&msg, cmd, data, length);
    if (SendAndWait(msg) != 0) {
        TARN_ERR("send msg but no ack.\n");
        return -1;
    }
    return 0;
}

} // namespace

void Rcrf_Usage() {
    for (const char *line : kUsageLines) {
        puts(line);
    }
}

int Rcrf_InitUart() {
    return Upgrade_OpenLine(g_rcrf.module->line, &g_rcrf.session);
}

void Rcrf_DeinitUart() {
    Upgrade_Leave(&g_rcrf.session);
}

int Rcrf_Recv(uint8_t *buffer, uint32_t count) {
    const FdioResult result = Fdio_ReadExact(g_rcrf.session.serialFd, buffer, count, kReceiveWaitMs);
    FDIO_REPORT(result);
    return result.status == FdioStatus::Ok ? 0 : -1;
}

int Rcrf_Send(const uint8_t *buffer, uint32_t count) {
    const FdioResult result = Fdio_WriteAll(g_rcrf.session.serialFd, buffer, count);
    FDIO_REPORT(result);
    return result.status == FdioStatus::Ok ? 0 : -1;
}

uint32_t Rcrf_GetFileSize(const char *path) {
    return Upgrade_GetFileSize(path);
}

int Rcrf_GetFileBuf() {
    return Upgrade_LoadImage(kRcrfEntry, &g_rcrf.session);
}

void Rcrf_FreeFileBuf() {
    g_rcrf.session.firmware = FirmwareImage();
}

int Rcrf_SendMsg(const RcrfMsg &msg) {
    uint8_t wire[kRcrfMaxFrameLength];
    const size_t length = Rcrf_MsgToBuffer(wire, msg);
    if (Rcrf_Send(wire, static_cast<uint32_t>(length)) != 0) {
        TARN_ERR("send data fail.\n");
        return -1;
    }
    return 0;
}

int Rcrf_WaitAck() {
    const RcrfWaitParam param = {ReceiveForWait, nullptr, 1, kAckLimitMs, nullptr};
    if (Rcrf_Await(param, &g_rcrf.parser) != RcrfWaitResult::Acknowledged) {
        TARN_ERR("invalid ack\n");
        return -1;
    }
    return 0;
}

int Rcrf_Jump2Bootload() {
    if (Rcrf_Send(kJump2Bootload, sizeof(kJump2Bootload)) != 0) {
        TARN_ERR("send fail.\n");
        return -1;
    }
    return 0;
}

int Rcrf_Request() {
    return Command(kRequest, nullptr, 0);
}

int Rcrf_SetAppInfo() {
    uint8_t info[kRcrfAppInfoLength];
    Rcrf_AppInfo(info, g_rcrf.session.firmware.bytes.get(), g_rcrf.session.firmware.size);
    return Command(kAppInfo, info, sizeof(info));
}

int Rcrf_Erase() {
    return Command(kErase, nullptr, 0);
}

int Rcrf_Program() {
    const uint8_t *image = g_rcrf.session.firmware.bytes.get();
    const uint32_t size = g_rcrf.session.firmware.size;
    uint32_t offset = 0;
    while (offset < size) {
        const uint32_t remaining = size - offset;
        // A whole last block still goes as a plain one: the module's last frame carries fewer than 240 bytes.
        const uint32_t length = remaining >= kBlockLength ? kBlockLength : remaining;
        RcrfMsg msg;
        NextFrame(&msg, remaining >= kBlockLength ? kProgram : kProgramLast, image + offset,
                  static_cast<uint8_t>(length));
        if (SendAndWait(msg) != 0) {
            TARN_WARN("send data but no ack, try it again.\n");
            Resynchronise();
            if (SendAndWait(msg) != 0) {
                TARN_ERR("send data but no ack.\n");
                return -1;
            }
        }
        offset += length;
        printf("\r%4.1f%%", 100.0 - (size - offset) * 100.0 / size);
        fflush(stdout);
    }
    return 0;
}

int Rcrf_Jump2App() {
    return Command(kJump2App, nullptr, 0);
}

int Rcrf_Upgrade() {
    TARN_INFO("step 1: jump to bootload.\n");
    if (Rcrf_Jump2Bootload() != 0) {
        TARN_ERR("jump to bootload fail.\n");
        return -1;
    }
    Time_SleepUs(kBootloaderStartUs);
    const DeviceStep steps[] = {
        {"step 2: request upgrade.\n", Rcrf_Request, "request upgrade fail.\n"},
        {"step 3: set app info.\n", Rcrf_SetAppInfo, "set app info fail.\n"},
        {"step 4: erase flash.\n", Rcrf_Erase, "erase flash fail.\n"},
        {"step 5: program flash.\n", Rcrf_Program, "program flash fail.\n"},
        {"step 6: jump to app.\n", Rcrf_Jump2App, "jump to app fail.\n"},
    };
    return Device_RunSteps(steps, std::size(steps));
}

int Main_UpgradeRcrf(int argc, char *argv[]) {
    g_rcrf = RcrfUpgradeContext();
    g_rcrf.module = ModuleOf(argv[0]);
    if (g_rcrf.module == nullptr) {
        Rcrf_Usage();
        return -1;
    }
    if (Upgrade_Enter(kRcrfEntry, g_rcrf.module->line, argc, argv, &g_rcrf.session) != 0) {
        return -1;
    }
    Rcrf_ParserReset(&g_rcrf.parser, g_rcrf.module->deviceId);
    int result = Rcrf_Upgrade();
    if (result != 0) {
        TARN_WARN("upgrade rcrf fail and try it again.\n");
        Resynchronise();
        result = Rcrf_Upgrade();
        if (result != 0) {
            TARN_ERR("upgrade rcrf fail.\n");
        }
    }
    Upgrade_Leave(&g_rcrf.session);
    return result == 0 ? 0 : -1;
}
