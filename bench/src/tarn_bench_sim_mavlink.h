// A simulator's MAVLink ends: its own receive and transmit channels (simulator thread only), frames parsed
// from the line and frames packed for it, in the same wire form the frame record keeps.
#pragma once

#include <cstdint>
#include <vector>

#include "tarn_mavlink.h"

namespace tarn::bench {

class SimMavlink {
public:
    // Feeds one received byte; true when it completed a frame with a good checksum, then in *message.
    bool Parse(uint8_t byte, MavlinkMessage *message);
    // The frame of a message whose id and payload are filled in, numbered on the transmit channel.
    std::vector<uint8_t> Pack(MavlinkMessage *message, uint8_t systemId, uint8_t componentId, uint8_t length,
                              uint8_t crcExtra);
    // A message's frame as it stands (a received one as it came).
    static std::vector<uint8_t> Wire(const MavlinkMessage &message);

private:
    MavlinkChannels receive_{};
    MavlinkChannels transmit_{};
};

} // namespace tarn::bench
