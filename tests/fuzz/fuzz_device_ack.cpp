// The device upgraders' acknowledgement wait over any bytes a line may carry: it ends (an acknowledgement, the
// end of the bytes, or its limit) and succeeds only when the bytes hold a frame the device's rule accepts.
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include "fuzz_support.h"
#include "tarn_device_upgrade.h"

namespace {

// A pipe holds this much without a reader.
constexpr size_t kMaxInput = 60000;

bool AcceptsImuAck(const MavlinkDeviceCommand &command) {
    return command.code == 0x505 && command.arguments[7] == 0x0F;
}

// The bytes as the parser sees them, without the wait: does any good frame carry an accepted acknowledgement?
bool HoldsAck(const uint8_t *data, size_t size) {
    MavlinkChannels channels{};
    for (size_t index = 0; index < size; ++index) {
        MavlinkMessage message{};
        MavlinkStatus status{};
        if (Mavlink_ParseChar(&channels, 0, data[index], &message, &status) != 0 &&
            message.messageId == kMavlinkMsgIdDeviceCommand) {
            MavlinkDeviceCommand command{};
            Mavlink_DecodeDeviceCommand(&message, &command);
            if (AcceptsImuAck(command)) {
                return true;
            }
        }
    }
    return false;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    fuzz::CatchConsole();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size > kMaxInput) {
        return 0;
    }
    int ends[2];
    if (pipe(ends) != 0) {
        return 0;
    }
    fcntl(ends[1], F_SETPIPE_SZ, static_cast<int>(kMaxInput + 4096));
    if (write(ends[1], data, size) != static_cast<ssize_t>(size)) {
        close(ends[0]);
        close(ends[1]);
        return 0;
    }
    close(ends[1]);

    // No wait: the bytes are all in the pipe already, and its end reads as a time-out at once.
    static const DeviceTool tool = {1, 0, AcceptsImuAck};
    DeviceUpgrade upgrade;
    upgrade.tool = &tool;
    upgrade.session.serialFd = ends[0];
    fuzz::ClearConsole();
    const int result = Device_WaitAck(&upgrade);
    FUZZ_CHECK(result == 0 || result == -1);
    FUZZ_CHECK((result == 0) == HoldsAck(data, size));
    close(ends[0]);
    upgrade.session.serialFd = -1;
    return 0;
}
