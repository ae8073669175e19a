#include "tarn_lens.h"

#include <algorithm>
#include <cstring>

#include "tarn_byte_order.h"
#include "tarn_console.h"
#include "tarn_lens_link.h"
#include "tarn_mlink_upgrade.h"

namespace {

constexpr uint8_t kCmdLoopTest = 0x01;
constexpr uint8_t kCmdMoveFocus = 0x02;
constexpr uint8_t kCmdMoveZoom = 0x03;
constexpr uint8_t kCmdStopFocus = 0x04;
constexpr uint8_t kCmdStopZoom = 0x05;
constexpr uint8_t kCmdMoveIris = 0x06;
constexpr uint8_t kCmdMoveShutter = 0x07;
constexpr uint8_t kCmdSoftVersion = 0x60;
constexpr uint8_t kCmdHardVersion = 0x61;
constexpr uint8_t kCmdFocusPiState = 0x81;
constexpr uint8_t kCmdZoomPiState = 0x82;
constexpr uint8_t kCmdFocusPos = 0x83;
constexpr uint8_t kCmdZoomPos = 0x84;
constexpr uint8_t kCmdIrisPos = 0x85;
constexpr uint8_t kCmdShutterPos = 0x86;
constexpr uint8_t kCmdInitState = 0x88;
constexpr uint8_t kCmdGetFlashData = 0xF1;
constexpr uint8_t kCmdSetFlashBit = 0xF2;

constexpr uint32_t kTimeoutMs = 2000;
// The lens reads its software version from flash before it answers.
constexpr uint32_t kSoftVersionTimeoutMs = 10000;
constexpr int kLensPort = 3;

int LensPort() {
    return kLensPort;
}

// Acknowledgements only: no reports.
constexpr MlinkLinkConfig LensLinkConfig() {
    MlinkLinkConfig config{};
    config.devid = kMlinkDevIdLens;
    config.pThreadName = "lens_recv";
    config.lockNames[0] = "lens";
    config.lockCount = 1;
    config.portNumber = LensPort;
    config.pollStepMs = 1;
    config.scanBeforeSleep = true;
    config.gateFirstCmd = 0xF9;
    config.isReport = nullptr;
    config.onReport = nullptr;
    return config;
}

MlinkLink gLensLink(LensLinkConfig());
LensOps gLensOps;

constexpr MlinkUpgradeDevice LensUpgrade() {
    MlinkUpgradeDevice device{};
    device.link = Lens_Link;
    device.sendsFlag = false;
    device.addressesTarget = false;
    device.prepareSequenceZero = true;
    device.prepareTimeoutMs = 15000;
    device.eraseTimeoutMs = 15000;
    device.chunkMax = 8;
    device.verifyTrailingZero = true;
    return device;
}

constexpr MlinkUpgradeDevice kLensUpgrade = LensUpgrade();

int32_t Command(uint8_t cmd, const uint8_t *pPayload, uint8_t length, MlinkMsg *pReply,
                uint32_t timeoutMs = kTimeoutMs) {
    return gLensLink.Transact(cmd, pPayload, length, timeoutMs, pReply);
}

int32_t Move(uint8_t cmd, uint16_t position, uint8_t speed) {
    uint8_t payload[3] = {0, 0, speed};
    tarn::StoreBe16(payload, position);
    MlinkMsg reply;
    return Command(cmd, payload, sizeof(payload), &reply);
}

int32_t Plain(uint8_t cmd) {
    MlinkMsg reply;
    return Command(cmd, nullptr, 0, &reply);
}

int32_t Position(uint8_t cmd, int16_t *pPosition) {
    MlinkMsg reply;
    if (Command(cmd, nullptr, 0, &reply) != 0) {
        return -1;
    }
    *pPosition = static_cast<int16_t>(tarn::LoadLe16(reply.payload));
    return 0;
}

int32_t State(uint8_t cmd, uint32_t *pState) {
    MlinkMsg reply;
    if (Command(cmd, nullptr, 0, &reply) != 0) {
        return -1;
    }
    *pState = reply.payload[0];
    return 0;
}

// The reply is cut to the caller's buffer: a console's text buffer must keep its terminator.
int32_t CopyReply(const MlinkMsg &reply, uint8_t *pBuffer, size_t size) {
    const size_t count = std::min(size_t{reply.len}, size);
    memcpy(pBuffer, reply.payload, count);
    return static_cast<int32_t>(count);
}

int32_t Version(uint8_t cmd, uint32_t timeoutMs, uint8_t *pBuffer, size_t size) {
    MlinkMsg reply;
    if (Command(cmd, nullptr, 0, &reply, timeoutMs) != 0) {
        return -1;
    }
    return CopyReply(reply, pBuffer, size);
}

} // namespace

MlinkLink &Lens_Link() {
    return gLensLink;
}

int32_t Lens_LoopTest() {
    return Plain(kCmdLoopTest);
}
int32_t Lens_MoveFocus(uint16_t position, uint8_t speed) {
    return Move(kCmdMoveFocus, position, speed);
}
int32_t Lens_StopFocus() {
    return Plain(kCmdStopFocus);
}
int32_t Lens_MoveZoom(uint16_t position, uint8_t speed) {
    return Move(kCmdMoveZoom, position, speed);
}
int32_t Lens_StopZoom() {
    return Plain(kCmdStopZoom);
}
int32_t Lens_MoveIris(uint16_t position, uint8_t speed) {
    return Move(kCmdMoveIris, position, speed);
}
int32_t Lens_GetIrisPos(int16_t *pPosition) {
    return Position(kCmdIrisPos, pPosition);
}
int32_t Lens_GetFocusPiState(uint32_t *pState) {
    return State(kCmdFocusPiState, pState);
}
int32_t Lens_GetZoomPiState(uint32_t *pState) {
    return State(kCmdZoomPiState, pState);
}
int32_t Lens_GetFocusPos(int16_t *pPosition) {
    return Position(kCmdFocusPos, pPosition);
}
int32_t Lens_GetZoomPos(int16_t *pPosition) {
    return Position(kCmdZoomPos, pPosition);
}
int32_t Lens_GetShutterPos(int16_t *pPosition) {
    return Position(kCmdShutterPos, pPosition);
}
int32_t Lens_GetInitState(uint32_t *pState) {
    return State(kCmdInitState, pState);
}
int32_t Lens_MoveShutter(uint16_t position, uint8_t speed) {
    return Move(kCmdMoveShutter, position, speed);
}
int32_t Lens_GetHardVersion(uint8_t *pBuffer, size_t size) {
    return Version(kCmdHardVersion, kTimeoutMs, pBuffer, size);
}
int32_t Lens_GetSoftVersion(uint8_t *pBuffer, size_t size) {
    return Version(kCmdSoftVersion, kSoftVersionTimeoutMs, pBuffer, size);
}
int32_t Lens_SetFlashBit(uint16_t address, uint8_t value) {
    uint8_t payload[3] = {0, 0, value};
    tarn::StoreBe16(payload, address);
    MlinkMsg reply;
    return Command(kCmdSetFlashBit, payload, sizeof(payload), &reply);
}
int32_t Lens_GetFlashData(uint16_t address, uint8_t *pBuffer, size_t size) {
    uint8_t payload[2] = {};
    tarn::StoreBe16(payload, address);
    MlinkMsg reply;
    if (Command(kCmdGetFlashData, payload, sizeof(payload), &reply) != 0) {
        return -1;
    }
    return CopyReply(reply, pBuffer, size);
}

int32_t Lens_Upgrade(const char *pPath) {
    return Mlink_Upgrade(kLensUpgrade, pPath, 0);
}

int32_t Lens_Create(LensOps **ppOps) {
    TARN_ASSERT(ppOps);
    if (gLensLink.Acquire() != 0) {
        return -1;
    }
    LensOps &ops = gLensOps;
    ops = LensOps{};
// Every slot is given the entry of its own name: reordering LensOps cannot hand a slot another operation.
#define LENS_OP(slot) ops.slot = Lens_##slot
    LENS_OP(LoopTest);
    LENS_OP(Upgrade);
    LENS_OP(MoveFocus);
    LENS_OP(StopFocus);
    LENS_OP(MoveZoom);
    LENS_OP(StopZoom);
    LENS_OP(MoveIris);
    LENS_OP(GetIrisPos);
    LENS_OP(GetFocusPiState);
    LENS_OP(GetZoomPiState);
    LENS_OP(GetFocusPos);
    LENS_OP(GetZoomPos);
    LENS_OP(GetShutterPos);
    LENS_OP(GetInitState);
    LENS_OP(MoveShutter);
    LENS_OP(GetHardVersion);
    LENS_OP(GetSoftVersion);
    LENS_OP(SetFlashBit);
    LENS_OP(GetFlashData);
#undef LENS_OP
    *ppOps = &gLensOps;
    return 0;
}

void Lens_Delete(LensOps **ppOps) {
    TARN_ASSERT(ppOps);
    gLensLink.Release();
    *ppOps = nullptr;
}
