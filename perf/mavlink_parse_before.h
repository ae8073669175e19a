// The MAVLink parser as it stood before its per-byte path was tightened, kept here only so the benchmark can
// measure both in one run. The product never links it.
#pragma once

#include "tarn_mavlink.h"

uint8_t MavlinkBefore_ParseChar(MavlinkChannels *channels, uint8_t channel, uint8_t byte, MavlinkMessage *message,
                                MavlinkStatus *status);
