#include "tarn_device_upgrade.h"

#include <cstdio>
#include <cstring>
#include <termios.h>

#include "tarn_console.h"
#include "tarn_fdio.h"
#include "tarn_time.h"

namespace {

constexpr uint8_t kSystemId = 0;
constexpr uint8_t kComponentId = 0;
constexpr uint8_t kChannel = 0;
// Frames that never end and noise that never pauses cannot hold a wait longer than this.
constexpr uint32_t kAckLimitMs = 10000;
constexpr uint64_t kDataPauseUs = 20000;

} // namespace

int Device_Recv(DeviceUpgrade *upgrade, uint8_t *buffer, uint32_t count) {
    const FdioResult result = Fdio_ReadExact(upgrade->session.serialFd, buffer, count, upgrade->tool->receiveWaitMs);
    FDIO_REPORT(result);
    return result.status == FdioStatus::Ok ? 0 : -1;
}

int Device_Send(DeviceUpgrade *upgrade, const MavlinkMessage &message) {
    uint8_t wire[kMavlinkMaxFrameLength];
    const uint16_t length = Mavlink_MsgToSendBuffer(wire, &message);
    const FdioResult result = Fdio_WriteAll(upgrade->session.serialFd, wire, length);
    FDIO_REPORT(result);
    return result.status == FdioStatus::Ok ? 0 : -1;
}

int Device_WaitAck(DeviceUpgrade *upgrade) {
    const uint32_t start = Time_GetMs();
    for (;;) {
        uint8_t byte = 0;
        if (Device_Recv(upgrade, &byte, 1) != 0) {
            TARN_WARN("recv data fail.\n");
            return -1;
        }
        MavlinkMessage message{};
        MavlinkStatus status{};
        if (Mavlink_ParseChar(&upgrade->channels, kChannel, byte, &message, &status) != 0 &&
            message.messageId == kMavlinkMsgIdDeviceCommand) {
            MavlinkDeviceCommand command{};
            Mavlink_DecodeDeviceCommand(&message, &command);
            if (upgrade->tool->accepts(command)) {
                return 0;
            }
        }
        if (Time_GetMs() - start > kAckLimitMs) {
            TARN_ERR("ack timeout.\n");
            return -1;
        }
    }
}

void Device_Resynchronise(DeviceUpgrade *upgrade) {
    tcflush(upgrade->session.serialFd, TCIFLUSH);
    // The parse state only: the transmit sequence runs on.
    MavlinkStatus &status = upgrade->channels.statuses[kChannel];
    status.parseState = MavlinkParseState::Idle;
    status.packetIndex = 0;
}

int Device_Exchange(DeviceUpgrade *upgrade, uint32_t code, const uint8_t arguments[kMavlinkDeviceArgumentCount]) {
    MavlinkMessage message{};
    Mavlink_PackDeviceCommand(&upgrade->channels, kSystemId, kComponentId, &message, upgrade->tool->deviceId, code,
                              arguments);
    return Device_Send(upgrade, message) == 0 && Device_WaitAck(upgrade) == 0 ? 0 : -1;
}

int Device_ExchangeData(DeviceUpgrade *upgrade, uint32_t code, const uint8_t *data, uint8_t length) {
    MavlinkMessage message{};
    Mavlink_PackDeviceData(&upgrade->channels, kSystemId, kComponentId, &message, upgrade->tool->deviceId, code, length,
                           data);
    return Device_Send(upgrade, message) == 0 && Device_WaitAck(upgrade) == 0 ? 0 : -1;
}

int Device_Command(DeviceUpgrade *upgrade, uint32_t code, const uint8_t arguments[kMavlinkDeviceArgumentCount]) {
    if (Device_Exchange(upgrade, code, arguments) != 0) {
        TARN_ERR("send data but no ack.\n");
        return -1;
    }
    return 0;
}

int Device_SetFlag(DeviceUpgrade *upgrade, int flag) {
    MavlinkMessage message{};
    Mavlink_PackDeviceFlag(&upgrade->channels, kSystemId, kComponentId, &message, upgrade->tool->deviceId,
                           flag != 0 ? 1 : 0);
    if (Device_Send(upgrade, message) != 0) {
        TARN_ERR("send data fail.\n");
        return -1;
    }
    return 0;
}

int Device_Program(DeviceUpgrade *upgrade, const DeviceBlockPlan &plan) {
    const uint8_t *image = upgrade->session.firmware.bytes.get();
    uint8_t block[kMavlinkDeviceDataCapacity];
    uint32_t offset = 0;
    int failures = 0;
    while (offset < plan.total) {
        const uint32_t remaining = plan.total - offset;
        const uint32_t length = remaining < plan.blockLength ? remaining : plan.blockLength;
        // Copied afresh for every attempt: a retried block carries the same encoded bytes.
        memcpy(block, image + offset, length);
        uint8_t arguments[kMavlinkDeviceArgumentCount] = {};
        uint32_t dataCode = 0;
        plan.describe(offset, block, length, remaining, arguments, &dataCode);
        bool sent = Device_Exchange(upgrade, plan.headerCode, arguments) == 0;
        if (sent) {
            if (plan.pauseBeforeData) {
                Time_SleepUs(kDataPauseUs);
            }
            if (plan.encode != nullptr) {
                plan.encode(block, length);
            }
            sent = Device_ExchangeData(upgrade, dataCode, block, static_cast<uint8_t>(length)) == 0;
        }
        if (!sent) {
            if (plan.failuresTolerated > 0) {
                TARN_WARN("send data but no ack, try it again.\n");
            }
            if (failures >= plan.failuresTolerated) {
                if (plan.finalFailureIsWarning) {
                    TARN_WARN("send data but no ack.\n");
                } else {
                    TARN_ERR("send data but no ack.\n");
                }
                return -1;
            }
            ++failures;
            Device_Resynchronise(upgrade);
            continue;
        }
        offset += length;
        printf("\r%4.1f%% ", 100.0 - (plan.total - offset) * 100.0 / plan.total);
        fflush(stdout);
    }
    printf("\n");
    return 0;
}

int Device_RunSteps(const DeviceStep *steps, size_t count) {
    for (size_t index = 0; index < count; ++index) {
        TARN_INFO("%s", steps[index].announce);
        if (steps[index].run() != 0) {
            TARN_ERR("%s", steps[index].failure);
            return -1;
        }
    }
    return 0;
}
