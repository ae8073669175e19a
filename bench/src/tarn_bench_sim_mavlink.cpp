#include "tarn_bench_sim_mavlink.h"

namespace tarn::bench {

bool SimMavlink::Parse(uint8_t byte, MavlinkMessage *message) {
    MavlinkStatus status{};
    return Mavlink_ParseChar(&receive_, 0, byte, message, &status) == 1;
}

std::vector<uint8_t> SimMavlink::Pack(MavlinkMessage *message, uint8_t systemId, uint8_t componentId, uint8_t length,
                                      uint8_t crcExtra) {
    Mavlink_FinalizeMessage(&transmit_, message, systemId, componentId, 0, length, crcExtra);
    return Wire(*message);
}

std::vector<uint8_t> SimMavlink::Wire(const MavlinkMessage &message) {
    std::vector<uint8_t> wire(kMavlinkMaxFrameLength);
    wire.resize(Mavlink_MsgToSendBuffer(wire.data(), &message));
    return wire;
}

} // namespace tarn::bench
