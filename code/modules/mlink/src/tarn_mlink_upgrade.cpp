#include "tarn_mlink_upgrade.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "tarn_byte_order.h"
#include "tarn_console.h"
#include "tarn_crc.h"
#include "tarn_firmware_file.h"
#include "tarn_mlink_link.h"

namespace {

constexpr uint32_t kStepTimeoutMs = 2000;

// The image is read once, before anything is sent: a missing or unreadable file never leaves a target erased
// in its boot loader, and program and verify see the same bytes.
int LoadImage(const char *pPath, FirmwareImage *pImage) {
    uint32_t size = 0;
    if (Firmware_GetSize(pPath, &size) != 0) {
        TARN_SYSERR("stat");
        return -1;
    }
    // An empty image is refused here: a target must never be sent to its application with a blank flash.
    const FirmwareLoad load = Firmware_Load(pPath, size, 0, 0x00, pImage);
    if (load.status != FirmwareStatus::Ok) {
        FIRMWARE_REPORT(load, size);
        return -1;
    }
    return 0;
}

bool AckNamesTarget(const MlinkUpgradeDevice &device, const MlinkMsg &ack, uint8_t target) {
    if (device.addressesTarget && ack.payload[0] != target) {
        TARN_ERR("invalid ack, 0x%02x.\n", ack.payload[0]);
        return false;
    }
    return true;
}

// Payload of a request: the target id when the device addresses one, then the given bytes.
size_t RequestPayload(const MlinkUpgradeDevice &device, uint8_t target, const uint8_t *pBytes, size_t count,
                      uint8_t (&payload)[kMlinkPayloadMax]) {
    size_t used = 0;
    if (device.addressesTarget) {
        payload[used++] = target;
    }
    if (count != 0) {
        memcpy(payload + used, pBytes, count);
    }
    return used + count;
}

// One command transaction of the procedure, with its acknowledgement test.
int Step(const MlinkUpgradeDevice &device, uint8_t cmd, uint8_t target, const uint8_t *pBytes, size_t count,
         uint32_t timeoutMs, bool sequenceZero = false) {
    MlinkLink &link = device.link();
    uint8_t payload[kMlinkPayloadMax];
    const size_t length = RequestPayload(device, target, pBytes, count, payload);
    MlinkMsg msg{};
    Mlink_Pack(&msg, link.DevId(), cmd, sequenceZero ? 0 : link.NextSeq(), static_cast<uint8_t>(length), payload);
    if (link.Exchange(&msg, timeoutMs) != 0) {
        TARN_ERR("send msg but no ack.\n");
        return -1;
    }
    return AckNamesTarget(device, msg, target) ? 0 : -1;
}

int SetFlag(const MlinkUpgradeDevice &device, uint8_t flag) {
    TARN_INFO("set upgrade flag=%d.\n", flag);
    MlinkLink &link = device.link();
    MlinkMsg reply;
    return link.Transact(kMlinkCmdFlag, &flag, 1, kStepTimeoutMs, &reply);
}

// A chunk whose acknowledgement is lost goes out once more with the same sequence, so the target can tell a
// repeat from the next chunk.
int SendChunk(const MlinkUpgradeDevice &device, uint8_t target, const uint8_t *pBytes, size_t count) {
    MlinkLink &link = device.link();
    uint8_t payload[kMlinkPayloadMax];
    const size_t length = RequestPayload(device, target, pBytes, count, payload);
    MlinkMsg request{};
    Mlink_Pack(&request, link.DevId(), kMlinkCmdProgram, link.NextSeq(), static_cast<uint8_t>(length), payload);
    MlinkMsg ack = request;
    if (link.Exchange(&ack, kStepTimeoutMs) != 0) {
        TARN_WARN("send msg but no ack, try it again.\n");
        ack = request;
        if (link.Exchange(&ack, kStepTimeoutMs) != 0) {
            TARN_ERR("send msg but no ack\n");
            return -1;
        }
    }
    return AckNamesTarget(device, ack, target) ? 0 : -1;
}

int Program(const MlinkUpgradeDevice &device, uint8_t target, const FirmwareImage &image) {
    MlinkLink &link = device.link();
    // The length byte holds at most 255 payload bytes, the target id included.
    const size_t chunkMax = std::min(device.chunkMax, size_t{255} - (device.addressesTarget ? 1 : 0));
    uint32_t offset = 0;
    while (offset < image.size) {
        const size_t chunk = std::min(size_t{image.size - offset}, chunkMax);
        if (SendChunk(device, target, image.bytes.get() + offset, chunk) != 0) {
            return -1;
        }
        offset += static_cast<uint32_t>(chunk);
        const uint64_t remaining = image.size - offset;
        const uint8_t progress = static_cast<uint8_t>(100 - remaining * 100 / image.size);
        link.SetProgress(progress);
        printf("\r%4.1f%%", static_cast<double>(progress));
        fflush(stdout);
    }
    link.SetProgress(100);
    return 0;
}

int Verify(const MlinkUpgradeDevice &device, uint8_t target, const FirmwareImage &image) {
    const uint32_t crc = Crc_Crc32Words(image.bytes.get(), image.size, 0);
    uint8_t bytes[5] = {};
    tarn::StoreBe32(bytes, crc);
    return Step(device, kMlinkCmdVerify, target, bytes, device.verifyTrailingZero ? 5 : 4, kStepTimeoutMs);
}

// Steps 1 to 5; the first failure ends them with its own line.
int RunSteps(const MlinkUpgradeDevice &device, uint8_t target, const FirmwareImage &image) {
    if (device.sendsFlag && SetFlag(device, 1) != 0) {
        TARN_ERR("set upgrade fail.\n");
        return -1;
    }
    TARN_INFO("step 1: prepare.\n");
    if (Step(device, kMlinkCmdPrepare, target, nullptr, 0, device.prepareTimeoutMs, device.prepareSequenceZero) != 0) {
        TARN_ERR("prepare fail.\n");
        return -1;
    }
    TARN_INFO("step 2: erase flash.\n");
    if (Step(device, kMlinkCmdErase, target, nullptr, 0, device.eraseTimeoutMs) != 0) {
        TARN_ERR("erase fail.\n");
        return -1;
    }
    TARN_INFO("step 3: program flash\n");
    if (Program(device, target, image) != 0) {
        TARN_ERR("program fail.\n");
        return -1;
    }
    TARN_INFO("step 4: verify flash.\n");
    if (Verify(device, target, image) != 0) {
        TARN_ERR("verify fail.\n");
        return -1;
    }
    TARN_INFO("step 5: go to app.\n");
    if (Step(device, kMlinkCmdGotoApp, target, nullptr, 0, kStepTimeoutMs) != 0) {
        TARN_ERR("go to app fail.\n");
        return -1;
    }
    return 0;
}

} // namespace

int32_t Mlink_Upgrade(const MlinkUpgradeDevice &device, const char *pPath, uint8_t target) {
    const char *pFile = pPath != nullptr ? pPath : "";
    TARN_INFO("begin to upgrade file=%s to firmware.\n", pFile);
    FirmwareImage image;
    if (LoadImage(pFile, &image) != 0) {
        // The program step is the one that could not run; the target never heard of the upgrade.
        TARN_ERR("program fail.\n");
        return -1;
    }
    MlinkLink &link = device.link();
    link.BeginUpgrade();
    const int result = RunSteps(device, target, image);
    // The target leaves upgrade mode whatever happened; a failed target stays in its boot loader.
    if (device.sendsFlag) {
        SetFlag(device, 0);
    }
    link.EndUpgrade();
    return result;
}
