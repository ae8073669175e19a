// Small helpers that the unit and the integration tests share.
#pragma once

#include <chrono>
#include <cstdint>
#include <vector>

namespace test_support {

using Clock = std::chrono::steady_clock;

inline long long MillisecondsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// The payload of a whole mlink frame as it went over the line: after the five header bytes, before the checksum.
inline std::vector<uint8_t> MlinkPayloadOf(const std::vector<uint8_t> &frame) {
    return std::vector<uint8_t>(frame.begin() + 5, frame.end() - 1);
}

} // namespace test_support
