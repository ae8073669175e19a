#include "tarn_upgrade_nimbo_super_fmu.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <getopt.h>

#include "tarn_byte_order.h"
#include "tarn_console.h"
#include "tarn_crc.h"
#include "tarn_fdio.h"
#include "tarn_firmware_file.h"
#include "tarn_mavlink.h"
#include "tarn_time.h"

namespace {

constexpr int32_t kPort = 0;
constexpr int32_t kBaudrate = 115200;
constexpr uint32_t kFileBlock = 60;
constexpr uint8_t kFileFill = 0xFF;

constexpr char kIdentity[] = "OrvoxPelicarnSmartSystem";
constexpr size_t kIdentityLength = sizeof(kIdentity) - 1;
constexpr size_t kImageLengthAt = 24;
constexpr size_t kFileTypeAt = 28;
constexpr uint16_t kFileType = 1;
constexpr uint32_t kImageLengthSlack = 15; // the image may fall short of the file's body by this much

constexpr uint64_t kRestartPauseUs = 5000000;
constexpr uint32_t kDrainWaitMs = 5000;
// An application that never falls silent would hold a drain for ever: it gives up after this much traffic.
constexpr uint32_t kDrainLimitMs = 10000;
constexpr uint32_t kHandshakeWindowS = 5;
constexpr uint32_t kHandshakeWaitMs = 200;
constexpr int kSyncFailures = 5;
constexpr uint32_t kEraseWaitMs = 10000;
constexpr int kEraseAttempts = 3;
constexpr size_t kEraseAnswerLength = 8;
constexpr uint16_t kFragmentUnit = 512;
// A fragment of 2048 bytes and its index fill the largest packet.
constexpr uint16_t kFragmentLimit = 2048;
constexpr uint32_t kProgramWaitMs = 2000;
constexpr int kProgramTries = 3;
constexpr size_t kProgramAnswerLength = 4;
constexpr uint32_t kFinishWaitMs = 2000;
constexpr int kRuns = 3;

// COMMAND_LONG from system 0, component 0 to system 1, component 0, confirmation 1.
constexpr uint8_t kTargetSystem = 1;
constexpr uint16_t kCommandToBootloader = 0;
constexpr float kToBootloaderParam1 = 2.0f;
constexpr uint16_t kCommandToApp = 246;
constexpr float kToAppParam1 = 1.0f;
constexpr float kToAppParam2 = 1.0f;

struct FmuSuperContext {
    const char *path = nullptr;
    uint32_t fileSize = 0;
    FirmwareImage file;
    uint16_t fragmentLength = 0;
    std::atomic<uint32_t> progress{0}; // read by a progress reader that may run on another thread
    Uart *port = nullptr;
    MavlinkChannels channels{};
};

// One per process, used by the main thread only.
FmuSuperContext g_context;

uint8_t g_packet[kFmuSuperPacketHeader + kFmuSuperMaxData + 2];

uint16_t PacketCommand(const uint8_t *packet) {
    return tarn::LoadBe16(packet + 1);
}

int ReportShortRead(uint32_t expected, int got) {
    TARN_ERR("expect 0x%x, iRet = 0x%x\n", expected, static_cast<unsigned>(got));
    return -1;
}

// Input already waiting answers an earlier request: it goes before a request whose answer counts.
void DiscardInput() {
    uint8_t stale[kFmuSuperRecvLimit];
    while (g_context.port->ReadTimeout(g_context.port, stale, sizeof stale, 0) > 0) {
    }
}

int DrainReceive(uint8_t *buffer, uint32_t count) {
    const int got = g_context.port->ReadTimeout(g_context.port, buffer, count, kDrainWaitMs);
    if (got < 0) {
        puts("clean read fail.");
        fflush(stdout);
        return -1;
    }
    return got > 0 ? 0 : -1;
}

void Drain() {
    Fdio_DrainUntilSilent(DrainReceive, kDrainLimitMs);
}

int SendCommandLong(uint16_t command, float param1, float param2) {
    MavlinkCommandLong request{};
    request.params[0] = param1;
    request.params[1] = param2;
    request.command = command;
    request.targetSystem = kTargetSystem;
    request.targetComponent = 0;
    request.confirmation = 1;
    MavlinkMessage message{};
    Mavlink_EncodeCommandLong(&g_context.channels, 0, 0, &message, &request);
    uint8_t wire[kMavlinkMaxFrameLength];
    const uint16_t length = Mavlink_MsgToSendBuffer(wire, &message);
    fmu_send(wire, length);
    return 0;
}

int OpenPort() {
    const UartParam param{kPort, kBaudrate};
    if (Uart_Create(&g_context.port, &param) != 0) {
        TARN_ERR("Uart_Create \n");
        return -1;
    }
    return 0;
}

void ClosePort() {
    Uart_Delete(&g_context.port);
}

// -r and -s outside an upgrade: the line is taken for the one request.
void SendAlone(int (*send)()) {
    if (OpenPort() != 0) {
        return;
    }
    send();
    ClosePort();
}

} // namespace

void FmuSuper_SetPort(Uart *port) {
    g_context.port = port;
}

uint16_t FmuSuper_FragmentLength() {
    return g_context.fragmentLength;
}

void fmu_getProgress(uint32_t *progress) {
    *progress = g_context.progress;
}

int fmu_send(const uint8_t *buffer, uint32_t count) {
    if (g_context.port->Write(g_context.port, buffer, count) != static_cast<int>(count)) {
        TARN_ERR("write fail.\n");
        return -1;
    }
    return 0;
}

int fmu_recv(uint8_t *buffer, uint32_t count, uint32_t timeoutMs) {
    if (buffer == nullptr || count > kFmuSuperRecvLimit) {
        return -1;
    }
    uint32_t received = 0;
    while (received < count) {
        const int got = g_context.port->ReadTimeout(g_context.port, buffer + received, count - received, timeoutMs);
        if (got < 0) {
            TARN_ERR("read fail.\n");
            return -1;
        }
        if (got == 0) {
            TARN_WARN("read null.\n");
            return 0;
        }
        received += static_cast<uint32_t>(got);
    }
    return static_cast<int>(count);
}

size_t FmuSuper_BuildPacket(uint8_t *packet, const uint8_t *data, uint16_t length, uint16_t command) {
    if (length > kFmuSuperMaxData) {
        return 0;
    }
    packet[0] = kFmuSuperPacketStart;
    tarn::StoreBe16(packet + 1, command);
    tarn::StoreBe16(packet + 3, length);
    tarn::StoreBe16(packet + 5, Crc_Xmodem(packet + 1, 4));
    if (length == 0) {
        return kFmuSuperPacketHeader;
    }
    memcpy(packet + kFmuSuperPacketHeader, data, length);
    tarn::StoreBe16(packet + kFmuSuperPacketHeader + length, Crc_Xmodem(data, length));
    return kFmuSuperPacketHeader + length + 2u;
}

int crc16SendPacket(const uint8_t *data, uint16_t length, uint16_t command) {
    if (data == nullptr) {
        TARN_ERR("pData is null.\n");
        return -1;
    }
    const size_t packetLength = FmuSuper_BuildPacket(g_packet, data, length, command);
    if (packetLength == 0) {
        TARN_ERR("send  buffer is limited. send length 0x%x\n", length);
        return -1;
    }
    return fmu_send(g_packet, static_cast<uint32_t>(packetLength));
}

int crc16RecvPacket(uint8_t *buffer, uint32_t timeoutMs) {
    if (buffer == nullptr) {
        TARN_ERR("pData is null.\n");
        return -1;
    }
    int got = fmu_recv(buffer, 1, timeoutMs);
    if (got != 1) {
        TARN_ERR("expect 0x%x, iRet = %d\n", 1, got);
        return -1;
    }
    if (buffer[0] != kFmuSuperPacketStart) {
        TARN_ERR("fisrt byte is 0x%x not 0x02\n", buffer[0]);
        return -1;
    }
    for (size_t field = 1; field < 5; field += 2) {
        got = fmu_recv(buffer + field, 2, timeoutMs);
        if (got != 2) {
            return ReportShortRead(2, got);
        }
    }
    const uint16_t length = tarn::LoadBe16(buffer + 3);
    if (length > kFmuSuperMaxData) {
        TARN_ERR("packet length(0x%x) is out of range 0x%x\n", length, kFmuSuperMaxData);
        return -1;
    }
    got = fmu_recv(buffer + 5, 2, timeoutMs);
    if (got != 2) {
        return ReportShortRead(2, got);
    }
    if (Crc_Xmodem(buffer + 1, 4) != tarn::LoadBe16(buffer + 5)) {
        TARN_ERR("crc error\n");
        return -1;
    }
    if (length != 0) {
        got = fmu_recv(buffer + kFmuSuperPacketHeader, length, timeoutMs);
        if (got != length) {
            return ReportShortRead(length, got);
        }
        got = fmu_recv(buffer + kFmuSuperRecvDataCrcAt, 2, timeoutMs);
        if (got != 2) {
            return ReportShortRead(2, got);
        }
        if (Crc_Xmodem(buffer + kFmuSuperPacketHeader, length) != tarn::LoadBe16(buffer + kFmuSuperRecvDataCrcAt)) {
            TARN_ERR("crc error\n");
            return -1;
        }
    }
    return length;
}

uint32_t fmu_getFileSize(const char *path) {
    uint32_t size = 0;
    if (Firmware_GetSize(path, &size) != 0) {
        TARN_ERR("stat");
        return UINT32_MAX;
    }
    return size;
}

int fmu_getFileBuf() {
    // An empty file loads as nothing: the header test refuses it with its own line.
    if (g_context.fileSize == 0) {
        g_context.file = FirmwareImage();
        return 0;
    }
    const FirmwareLoad load = Firmware_Load(g_context.path, g_context.fileSize, kFileBlock, kFileFill, &g_context.file);
    FIRMWARE_REPORT(load, g_context.fileSize);
    return load.status == FirmwareStatus::Ok ? 0 : -1;
}

int FmuSuper_CheckHeader(const uint8_t *buffer, size_t bufferLength, uint32_t fileSize) {
    if (fileSize == 0) {
        TARN_ERR("we havenot read file \n");
        return -1;
    }
    if (bufferLength < kFileTypeAt + 2 || memcmp(buffer, kIdentity, kIdentityLength) != 0) {
        return -1;
    }
    const uint32_t imageLength = tarn::LoadBe32(buffer + kImageLengthAt);
    // A file shorter than its header has no image length that fits (in 32-bit arithmetic a length just below
    // 2^32 would, and the controller would be erased for it).
    const uint32_t longest = fileSize - static_cast<uint32_t>(kFmuSuperHeaderLength);
    const uint32_t shortest = longest - kImageLengthSlack;
    if (fileSize < kFmuSuperHeaderLength || imageLength < shortest || imageLength > longest) {
        TARN_ERR("file len is out of range\n");
        return -1;
    }
    const uint16_t fileType = tarn::LoadBe16(buffer + kFileTypeAt);
    if (fileType != kFileType) {
        TARN_ERR("filetype (0x%x) error\n", fileType);
        return -1;
    }
    return 0;
}

int fmu_checkUpgradeFile() {
    return FmuSuper_CheckHeader(g_context.file.bytes.get(), g_context.file.length, g_context.fileSize);
}

int fmu_rebootToBootloader() {
    return SendCommandLong(kCommandToBootloader, kToBootloaderParam1, 0.0f);
}

int fmu_rebootToApp() {
    return SendCommandLong(kCommandToApp, kToAppParam1, kToAppParam2);
}

int fmu_sync() {
    Drain();
    uint8_t reply[kFmuSuperRecvBuffer];
    const uint8_t none = 0;
    const uint32_t start = Time_GetSec();
    // No discard here: a late answer to an earlier handshake is as good as the latest.
    while (Time_GetSec() - start <= kHandshakeWindowS) {
        if (crc16SendPacket(&none, 0, kFmuSuperHandshake) != 0) {
            TARN_ERR("send handshake command failed\n");
            return -1;
        }
        if (crc16RecvPacket(reply, kHandshakeWaitMs) >= 0 && PacketCommand(reply) == kFmuSuperHandshakeAnswer) {
            puts("HandShake ");
            fflush(stdout);
            return 0;
        }
    }
    TARN_ERR(" handshake time out\n");
    return -1;
}

int fmu_erase() {
    Drain();
    uint8_t size[4];
    tarn::StoreBe32(size, g_context.fileSize);
    DiscardInput();
    if (crc16SendPacket(size, sizeof size, kFmuSuperErase) != 0) {
        TARN_ERR("send erase command failed\n");
        return -1;
    }
    uint8_t reply[kFmuSuperRecvBuffer];
    for (int attempt = 0; attempt < kEraseAttempts; ++attempt) {
        const int length = crc16RecvPacket(reply, kEraseWaitMs);
        if (length <= 0) {
            continue;
        }
        const uint16_t command = PacketCommand(reply);
        if (command != kFmuSuperEraseAnswer) {
            TARN_ERR(" expect CMD 0x%x, recive cmd 0x%x\n", kFmuSuperEraseAnswer, command);
            return -1;
        }
        if (length != kEraseAnswerLength) {
            TARN_ERR(" expect Length 0x08, recive length 0x%x\n", length);
            return -1;
        }
        const uint8_t *data = reply + kFmuSuperPacketHeader;
        const uint16_t errorCode = tarn::LoadBe16(data);
        if (errorCode != 0) {
            TARN_ERR(" expect errorcode 0x00, recive errorcode  0x%x\n", errorCode);
            return -1;
        }
        // Signed, as the bootloader's field is: 0x8000 and above are negative.
        const int fragmentLength = static_cast<int16_t>(tarn::LoadBe16(data + 3));
        if (fragmentLength < kFragmentUnit || fragmentLength > kFragmentLimit || fragmentLength % kFragmentUnit != 0) {
            TARN_ERR(" FragLen(0x%x) is error\n", static_cast<unsigned>(fragmentLength));
            return -1;
        }
        g_context.fragmentLength = static_cast<uint16_t>(fragmentLength);
        return 0;
    }
    TARN_ERR(" erase command response error\n");
    return -1;
}

int fmu_program() {
    uint32_t remaining = g_context.fileSize;
    const uint8_t *cursor = g_context.file.bytes.get();
    uint16_t index = 0;
    uint8_t data[2 + kFragmentLimit];
    uint8_t reply[kFmuSuperRecvBuffer];
    while (remaining >= 1) {
        printf("remainsize:0x%x\n", remaining);
        fflush(stdout);
        const uint32_t chunk = remaining < g_context.fragmentLength ? remaining : g_context.fragmentLength;
        tarn::StoreBe16(data, index);
        memcpy(data + 2, cursor, chunk);
        cursor += chunk;
        bool done = false;
        for (int attempt = 0; attempt < kProgramTries && !done; ++attempt) {
            DiscardInput();
            if (crc16SendPacket(data, static_cast<uint16_t>(chunk + 2), kFmuSuperProgram) != 0) {
                continue;
            }
            done = crc16RecvPacket(reply, kProgramWaitMs) == kProgramAnswerLength &&
                   PacketCommand(reply) == kFmuSuperProgramAnswer && tarn::LoadBe16(reply + kFmuSuperPacketHeader) == 0;
        }
        if (!done) {
            TARN_ERR(" send error after three timer retry\n");
            return -1;
        }
        ++index;
        remaining -= chunk;
        g_context.progress =
            static_cast<uint32_t>((uint64_t{g_context.fileSize} - remaining) * 100u / g_context.fileSize);
    }
    return 0;
}

int fmu_verify() {
    const uint8_t none = 0;
    DiscardInput();
    if (crc16SendPacket(&none, 0, kFmuSuperFinish) != 0) {
        TARN_ERR("send finish command failed\n");
        return -1;
    }
    uint8_t reply[kFmuSuperRecvBuffer];
    const int length = crc16RecvPacket(reply, kFinishWaitMs);
    if (length < 0) {
        TARN_ERR("receive finish command response failed\n");
        return -1;
    }
    const uint16_t command = PacketCommand(reply);
    if (command != kFmuSuperFinishAnswer) {
        TARN_ERR(" expect CMD 0x%x, recive cmd 0x%x\n", kFmuSuperFinishAnswer, command);
        return -1;
    }
    if (length != 0) {
        TARN_ERR(" expect Length 0x00, recive length 0x%x\n", length);
        return -1;
    }
    return 0;
}

int fmu_doUpgrade() {
    g_context.progress = 0;

    TARN_INFO("step 1: reboot fmu.\n");
    fmu_rebootToBootloader();
    Time_SleepUs(kRestartPauseUs);

    TARN_INFO("step 2: bootload sync.\n");
    for (int failures = 1; fmu_sync() != 0; ++failures) {
        if (failures == kSyncFailures) {
            return -1;
        }
        TARN_WARN("bootloader not responding and try it again.\n");
    }

    TARN_INFO("step 3: erase flash.\n");
    if (fmu_erase() != 0) {
        TARN_ERR("Fmu_Erase fail.\n");
        return -1;
    }

    TARN_INFO("step 4: program flash\n");
    if (fmu_program() != 0) {
        TARN_ERR("program fail.\n");
        return -1;
    }

    TARN_INFO("step 5: verify flash.\n");
    if (fmu_verify() != 0) {
        TARN_ERR("verify fail.\n");
        return -1;
    }

    TARN_INFO("step 6: reboot fmu.\n");
    if (fmu_rebootToApp() != 0) {
        TARN_ERR("reboot fail.\n");
        return -1;
    }
    return 0;
}

int superfmu_upgrade(const char *path) {
    if (OpenPort() != 0) {
        return -1;
    }
    g_context.path = path;
    g_context.fileSize = fmu_getFileSize(path);
    if (fmu_getFileBuf() != 0) {
        TARN_ERR("get file buf fail.\n");
        ClosePort();
        return -1;
    }
    int result = -1;
    if (fmu_checkUpgradeFile() != 0) {
        TARN_ERR("upgrade fille (%s) checked failed\n", path);
    } else {
        TARN_INFO("begin to upgrade file='%s' size=%d to firmware.\n", path, static_cast<int>(g_context.fileSize));
        for (int run = 1; run <= kRuns; ++run) {
            if (fmu_doUpgrade() == 0) {
                result = 0;
                break;
            }
            if (run < kRuns) {
                TARN_WARN("upgrade fmu fail and try it again.\n");
            } else {
                TARN_ERR("upgrade fmu fail.\n");
            }
        }
    }
    g_context.file = FirmwareImage();
    ClosePort();
    return result;
}

int Main_UpgradeFmuSuper(int argc, char *argv[]) {
    if (argc < 2) {
        return 0;
    }
    // A factory script must see a controller left in its bootloader: -u fails the tool when every upgrade
    // it ran failed.
    int upgrades = 0;
    int failures = 0;
    optind = 1;
    for (int option; (option = getopt(argc, argv, "u:rs")) != -1;) {
        switch (option) {
            case 'u':
                ++upgrades;
                failures += superfmu_upgrade(optarg) != 0 ? 1 : 0;
                break;
            case 'r':
                SendAlone(fmu_rebootToApp);
                return 0;
            case 's':
                SendAlone(fmu_rebootToBootloader);
                return 0;
            default:
                break;
        }
    }
    return upgrades > 0 && failures == upgrades ? -1 : 0;
}
