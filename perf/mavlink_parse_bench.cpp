// Throughput of the MAVLink parser over a stream of firmware-sized frames, as a receive thread sees it.
#include <benchmark/benchmark.h>

#include <vector>

#include "tarn_mavlink.h"

namespace {

// Full DEVICE_DATA frames back to back, with a little noise between them so resynchronisation is exercised.
std::vector<uint8_t> BuildStream(int frameCount) {
    MavlinkChannels sender{};
    MavlinkMessage message{};
    uint8_t data[kMavlinkDeviceDataCapacity];
    std::vector<uint8_t> stream;
    uint8_t frame[kMavlinkMaxFrameLength];
    for (int index = 0; index < frameCount; ++index) {
        for (int position = 0; position < kMavlinkDeviceDataCapacity; ++position) {
            data[position] = static_cast<uint8_t>(index * 31 + position);
        }
        Mavlink_PackDeviceData(&sender, 0, 0, &message, kMavlinkDeviceImu, 0x385, 240, data);
        const uint16_t length = Mavlink_MsgToSendBuffer(frame, &message);
        stream.insert(stream.end(), frame, frame + length);
        stream.push_back(0x00);
    }
    return stream;
}

void BM_MavlinkParseChar(benchmark::State &state) {
    const std::vector<uint8_t> stream = BuildStream(256);
    MavlinkChannels receiver{};
    MavlinkMessage message{};
    MavlinkStatus status{};
    int64_t frames = 0;
    for (auto _ : state) {
        for (uint8_t byte : stream) {
            frames += Mavlink_ParseChar(&receiver, 0, byte, &message, &status);
        }
        benchmark::DoNotOptimize(message);
    }
    if (frames != 256 * static_cast<int64_t>(state.iterations())) {
        state.SkipWithError("the parser lost frames");
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(stream.size()));
}
BENCHMARK(BM_MavlinkParseChar);

} // namespace
