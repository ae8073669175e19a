// The exchange engine of the upgraders that reach a device bootloader through MAVLink device messages (IMU,
// optical flow, battery): frames packed from system 0, component 0 on channel 0 and written at their frame
// length, the byte-wise acknowledgement wait, command-and-wait, the upgrade-mode flag and the block loop. A
// tool is its constants and step table on top of this.
#pragma once

#include <cstddef>
#include <cstdint>

#include "tarn_mavlink.h"
#include "tarn_upgrade_entry.h"

// What one device's bootloader is: its id, how long it may stay silent per byte, what it acknowledges with.
struct DeviceTool {
    uint8_t deviceId;
    uint32_t receiveWaitMs;
    bool (*accepts)(const MavlinkDeviceCommand &command);
};

// One tool run; owned by the tool's main thread. The channels are the tool's own.
struct DeviceUpgrade {
    const DeviceTool *tool = nullptr;
    UpgradeSession session;
    MavlinkChannels channels{};
};

// How the block loop cuts and describes the image.
struct DeviceBlockPlan {
    uint32_t total;       // bytes sent; the progress is a share of it
    uint32_t blockLength; // the last block may be shorter
    uint32_t headerCode;
    // Header arguments and data code of the block at offset, from its plain bytes.
    void (*describe)(uint32_t offset, const uint8_t *block, uint32_t length, uint32_t remaining,
                     uint8_t arguments[kMavlinkDeviceArgumentCount], uint32_t *dataCode);
    // Turns the plain block into what goes on the wire (nullptr: sent plain).
    void (*encode)(uint8_t *block, uint32_t length);
    bool pauseBeforeData;
    int failuresTolerated; // failed exchanges retried over the whole image; 0: the first failure ends it
    bool finalFailureIsWarning;
};

// A step of an upgrade: its information line, its work, its error line.
struct DeviceStep {
    const char *announce;
    int (*run)();
    const char *failure;
};

// Runs the steps in order; the first failure prints its line and ends the run (-1).
int Device_RunSteps(const DeviceStep *steps, size_t count);

// One byte or more within the tool's per-byte wait; 0, or -1 after the reason.
int Device_Recv(DeviceUpgrade *upgrade, uint8_t *buffer, uint32_t count);
// Writes the packed message at its frame length; 0, or -1 after the reason.
int Device_Send(DeviceUpgrade *upgrade, const MavlinkMessage &message);
// Waits for a DEVICE_COMMAND the tool accepts, at most 10 s over all, whatever the line carries meanwhile.
int Device_WaitAck(DeviceUpgrade *upgrade);
// Drops unread input and restarts the parser, so a late acknowledgement cannot answer the next request.
void Device_Resynchronise(DeviceUpgrade *upgrade);
// Sends DEVICE_COMMAND and waits; 0 or -1, silent (the caller words the failure).
int Device_Exchange(DeviceUpgrade *upgrade, uint32_t code, const uint8_t arguments[kMavlinkDeviceArgumentCount]);
int Device_ExchangeData(DeviceUpgrade *upgrade, uint32_t code, const uint8_t *data, uint8_t length);
// As Device_Exchange, with the error "send data but no ack." on failure.
int Device_Command(DeviceUpgrade *upgrade, uint32_t code, const uint8_t arguments[kMavlinkDeviceArgumentCount]);
// DEVICE_FLAG with value 1 for a non-zero flag, no acknowledgement; "send data fail." on a failed write.
int Device_SetFlag(DeviceUpgrade *upgrade, int flag);
// Header, optional 20 ms pause, data, each acknowledged; failed exchanges retried from the header within the
// plan's budget; progress after every block.
int Device_Program(DeviceUpgrade *upgrade, const DeviceBlockPlan &plan);
