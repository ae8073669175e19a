#include "tarn_upgrade_nimbo_super_rcrftb.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "tarn_byte_order.h"
#include "tarn_console.h"
#include "tarn_device_upgrade.h"
#include "tarn_firmware_file.h"
#include "tarn_rcrf.h"
#include "tarn_time.h"
#include "tarn_uart.h"

namespace {

enum Target : uint8_t {
    kRc = 1,
    kRfTx = 2,
    kTb = 3,
    kRfRx = 4,
    kLanguagePack = 5,
};

constexpr uint8_t kJumpToBootloader = 0xE0;
constexpr uint8_t kBootloaderArgument = 0x12;
constexpr uint8_t kRequest = 0x00;
constexpr uint8_t kAppInfo = 0x04;
constexpr uint8_t kErase = 0x07;
constexpr uint8_t kProgram = 0x08;
constexpr uint8_t kProgramLast = 0x09;
constexpr uint8_t kJumpToApp = 0x0B;
constexpr uint8_t kVersion = 0x01;
constexpr uint8_t kReplyOther = 0x02;
constexpr uint8_t kChunk = 240;
constexpr uint32_t kReadWaitMs = 5000;
constexpr uint32_t kAckLimitMs = 10000;
constexpr uint32_t kResendPauseUs = 100000;
constexpr uint32_t kBootSettleUs = 1000000;
constexpr int kRuns = 3;

// One call at a time (the entries do not overlap); sequence and reply live as long as the process.
struct RcrftbContext {
    const char *path = nullptr;
    FirmwareImage image;
    uint8_t deviceId = 0;
    uint32_t sequence = 0;
    std::atomic<uint32_t> progress{0}; // read by a progress reader that may run on another thread
    Uart *port = nullptr;
    RcrfMsg reply{};
};
RcrftbContext context;

int rcrftb_recv(void *, uint8_t *buffer, uint32_t count) {
    const int got = Uart_ReadTimeout(context.port, buffer, count, kReadWaitMs);
    if (got < 0) {
        TARN_ERR("read fail.\n");
        TARN_ERR("read fail.\n");
        return -1;
    }
    return got;
}

int rcrftb_sendMsg(const RcrfMsg &msg) {
    uint8_t wire[kRcrfMaxFrameLength];
    const size_t length = Rcrf_MsgToBuffer(wire, msg);
    if (Uart_Write(context.port, wire, static_cast<uint32_t>(length)) != static_cast<int>(length)) {
        TARN_ERR("write fail.\n");
        TARN_ERR("send data fail.\n");
        return -1;
    }
    return 0;
}

// A version or other reply (cmd 1 or 2) is kept before the acknowledgement test, so a version whose first byte
// is 0x12 still reads right.
bool Accepts(const RcrfMsg &frame, void *) {
    if (frame.cmd == kVersion || frame.cmd == kReplyOther) {
        context.reply = frame;
        return true;
    }
    return Rcrf_IsAck(frame);
}

int rcrftb_waitAck() {
    RcrfParser parser;
    Rcrf_ParserReset(&parser, context.deviceId);
    const RcrfWaitParam param{rcrftb_recv, nullptr, kRcrfMaxFrameLength, kAckLimitMs, Accepts};
    switch (Rcrf_Await(param, &parser)) {
        case RcrfWaitResult::Acknowledged:
            return 0;
        case RcrfWaitResult::ReadFailed:
            return -1;
        case RcrfWaitResult::Expired:
            break;
    }
    TARN_ERR("ack timeout.\n");
    return -1;
}

// Input already waiting answers an earlier frame.
void DiscardInput() {
    uint8_t stale[kRcrfMaxFrameLength];
    while (Uart_ReadTimeout(context.port, stale, sizeof stale, 0) > 0) {
    }
}

int SendAndWait(const RcrfMsg &msg) {
    DiscardInput();
    return rcrftb_sendMsg(msg) == 0 && rcrftb_waitAck() == 0 ? 0 : -1;
}

RcrfMsg Frame(uint8_t cmd, const uint8_t *data, uint8_t length) {
    RcrfMsg msg;
    Rcrf_Pack(&msg, context.deviceId, cmd, static_cast<uint8_t>(context.sequence++), data, length);
    return msg;
}

int Command(uint8_t cmd, const uint8_t *data, uint8_t length, const char *failure) {
    const RcrfMsg msg = Frame(cmd, data, length);
    if (SendAndWait(msg) == 0) {
        return 0;
    }
    TARN_WARN("send msg but no ack and try it again.\n");
    if (SendAndWait(msg) == 0) {
        return 0;
    }
    TARN_ERR("%s", failure);
    return -1;
}

int rcrftb_jump2Bootload() {
    return Command(kJumpToBootloader, &kBootloaderArgument, 1, "send msg but no ack.\n");
}

int rcrftb_request() {
    return Command(kRequest, nullptr, 0, "send msg but no ack.\n");
}

int rcrftb_setAppInfo() {
    uint8_t info[kRcrfAppInfoLength];
    Rcrf_AppInfo(info, context.image.bytes.get(), context.image.size);
    return Command(kAppInfo, info, sizeof info, "send stMsg but no ack.\n");
}

int rcrftb_erase() {
    return Command(kErase, nullptr, 0, "send msg but no ack.\n");
}

int rcrftb_jump2App() {
    return Command(kJumpToApp, nullptr, 0, "send msg but no ack.\n");
}

int rcrftb_program() {
    const uint32_t size = context.image.size;
    uint32_t remaining = size;
    uint32_t offset = 0;
    do {
        // Everything but the last piece is 0x08; the last, full or not, is 0x09.
        const bool last = remaining <= kChunk;
        const uint8_t length = static_cast<uint8_t>(last ? remaining : kChunk);
        const RcrfMsg msg = Frame(last ? kProgramLast : kProgram, context.image.bytes.get() + offset, length);
        offset += length;
        remaining -= length;
        if (SendAndWait(msg) != 0) {
            Time_SleepUs(kResendPauseUs);
            TARN_WARN("send data but no ack and try it again.\n");
            if (SendAndWait(msg) != 0) {
                TARN_ERR("send data but no ack.\n");
                return -1;
            }
        }
        context.progress = size == 0 ? 100 : 100 - static_cast<uint32_t>(uint64_t{remaining} * 100 / size);
        printf("\r%4.1f%%", size == 0 ? 100.0 : 100.0 - remaining * 100.0 / size);
        fflush(stdout);
    } while (remaining != 0);
    return 0;
}

constexpr DeviceStep kSteps[] = {
    {"step 2: request upgrade.\n", rcrftb_request, "request upgrade fail.\n"},
    {"step 3: set app info.\n", rcrftb_setAppInfo, "set app info fail.\n"},
    {"step 4: erase flash.\n", rcrftb_erase, "erase flash fail.\n"},
    {"step 5: program flash.\n", rcrftb_program, "program flash fail.\n"},
    {"step 6: jump to app.\n", rcrftb_jump2App, "jump to app fail.\n"},
};

int rcrftb_doUpgrade() {
    context.progress = 0;
    TARN_INFO("step 1: jump to bootload.\n");
    if (rcrftb_jump2Bootload() != 0) {
        TARN_ERR("jump to bootload fail.\n");
        return -1;
    }
    Time_SleepUs(kBootSettleUs);
    return Device_RunSteps(kSteps, sizeof kSteps / sizeof kSteps[0]);
}

int OpenPort() {
    const UartParam param{0, 115200};
    if (Uart_Create(&context.port, &param) != 0) {
        TARN_ERR("Uart_Create \n");
        return -1;
    }
    return 0;
}

int LoadImage(const char *path) {
    uint32_t size = 0;
    if (Firmware_GetSize(path, &size) != 0) {
        TARN_SYSERR("stat");
        size = UINT32_MAX;
    }
    const FirmwareLoad load = Firmware_Load(path, size, 0, 0x00, &context.image);
    if (load.status != FirmwareStatus::Empty) {
        FIRMWARE_REPORT(load, size);
    }
    return load.status == FirmwareStatus::Ok ? 0 : -1;
}

int Upgrade(Target target, const char *path, const char *retryWarning, const char *failure) {
    context.deviceId = target;
    context.path = path;
    if (LoadImage(path) != 0) {
        TARN_ERR("get file buf fail.\n");
        return -1;
    }
    if (OpenPort() != 0) {
        context.image = FirmwareImage{};
        return -1;
    }
    TARN_INFO("begin to upgrade file='%s' size=%d to firmware.\n", path, static_cast<int>(context.image.size));
    int result = -1;
    for (int run = 1; run <= kRuns && result != 0; ++run) {
        result = rcrftb_doUpgrade();
        if (result != 0) {
            if (run < kRuns) {
                TARN_WARN("%s", retryWarning);
            } else {
                TARN_ERR("%s", failure);
            }
        }
    }
    context.image = FirmwareImage{};
    Uart_Delete(&context.port);
    return result;
}

int GetVersion(Target target, uint32_t *version, const char *label) {
    if (OpenPort() != 0) {
        return -1;
    }
    context.deviceId = target;
    // Our own query's reply only: a record left by an earlier call must not answer it.
    context.reply = RcrfMsg{};
    const int asked = Command(kVersion, nullptr, 0, "send msg but no ack.\n");
    if (asked == 0) {
        if (context.reply.cmd != kVersion) {
            *version = 0;
            TARN_WARN("can get version, and return default ver=0.\n");
        } else {
            const uint8_t *data = context.reply.data;
            *version = tarn::LoadLe32(data);
            TARN_INFO("%s version: V%d.%d.%d.%d\n", label, data[3], data[2], data[1], data[0]);
        }
    }
    Uart_Delete(&context.port);
    return asked;
}

int Progress(uint32_t *progress) {
    if (progress == nullptr) {
        return -1;
    }
    *progress = context.progress;
    return 0;
}

} // namespace

int rc_upgrade(const char *path) {
    return Upgrade(kRc, path, "upgrade rcrf fail and try it again.\n", "upgrade rcrf fail.\n");
}
int rftx_upgrade(const char *path) {
    return Upgrade(kRfTx, path, "upgrade rcrf fail and try it again.\n", "upgrade rcrf fail.\n");
}
int tb_upgrade(const char *path) {
    return Upgrade(kTb, path, "upgrade rcrf fail and try it again.\n", "upgrade rcrf fail.\n");
}
int rfrx_upgrade(const char *path) {
    return Upgrade(kRfRx, path, "upgrade rcrf fail and try it again.\n", "upgrade rcrf fail.\n");
}
int rcLangLib_upgrade(const char *path) {
    return Upgrade(kLanguagePack, path, "upgrade lang fail and try it again.\n", "upgrade lang fail.\n");
}

int rc_getVer(uint32_t *version) {
    return GetVersion(kRc, version, "RC");
}
int rftx_getVer(uint32_t *version) {
    return GetVersion(kRfTx, version, "RFTX");
}
int tb_GetVer(uint32_t *version) {
    return GetVersion(kTb, version, "TB");
}
int rfrx_getVer(uint32_t *version) {
    return GetVersion(kRfRx, version, "RFRX");
}
int rcLangLib_getVer(uint32_t *version) {
    return GetVersion(kLanguagePack, version, "RC");
}

int rc_getProgress(uint32_t *progress) {
    return Progress(progress);
}
int rftx_getProgress(uint32_t *progress) {
    return Progress(progress);
}
int rfrx_getProgress(uint32_t *progress) {
    return Progress(progress);
}
int tb_getProgress(uint32_t *progress) {
    return Progress(progress);
}
int rcLangLib_getProgress(uint32_t *progress) {
    return Progress(progress);
}
