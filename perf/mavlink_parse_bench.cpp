// Throughput of the MAVLink parser, as a receive thread sees it, over two streams: firmware-sized frames, and
// the flight controller's telemetry mix. Each runs through today's parser and through the frozen earlier one
// (mavlink_parse_before.cpp), so one run gives both figures on the same machine.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "mavlink_parse_before.h"
#include "tarn_byte_order.h"
#include "tarn_mavlink.h"

namespace {

using ParseFunction = uint8_t (*)(MavlinkChannels *, uint8_t, uint8_t, MavlinkMessage *, MavlinkStatus *);

struct Stream {
    std::vector<uint8_t> bytes;
    int64_t frames = 0;
};

void Append(Stream &stream, const MavlinkMessage &message) {
    uint8_t frame[kMavlinkMaxFrameLength];
    const uint16_t length = Mavlink_MsgToSendBuffer(frame, &message);
    stream.bytes.insert(stream.bytes.end(), frame, frame + length);
    stream.bytes.push_back(0x00);
    ++stream.frames;
}

void PutFloat(uint8_t *destination, float value) {
    uint32_t bits = 0;
    memcpy(&bits, &value, sizeof(bits));
    tarn::StoreLe32(destination, bits);
}

// Full DEVICE_DATA frames back to back, with a zero byte between them so resynchronisation is exercised.
Stream FirmwareStream() {
    MavlinkChannels sender{};
    MavlinkMessage message{};
    uint8_t data[kMavlinkDeviceDataCapacity];
    Stream stream;
    for (int index = 0; index < 256; ++index) {
        for (int position = 0; position < kMavlinkDeviceDataCapacity; ++position) {
            data[position] = static_cast<uint8_t>(index * 31 + position);
        }
        Mavlink_PackDeviceData(&sender, 0, 0, &message, kMavlinkDeviceImu, 0x385, 240, data);
        Append(stream, message);
    }
    return stream;
}

// HEARTBEAT, ATTITUDE, VFR_HUD and COMMAND_LONG in turn, a zero byte after each: 126 bytes a round, 1500
// rounds, 189,000 bytes. The fields change from round to round so that no two checksums repeat in step.
Stream TelemetryStream() {
    constexpr uint8_t kHeartbeat = 0;
    constexpr uint8_t kAttitude = 30;
    constexpr uint8_t kVfrHud = 74;
    MavlinkChannels sender{};
    MavlinkMessage message{};
    Stream stream;
    for (int round = 0; round < 1500; ++round) {
        const float step = static_cast<float>(round) * 0.01f;
        uint8_t *payload = message.payload;

        tarn::StoreLe32(payload, static_cast<uint32_t>(round) << 4);
        payload[4] = 2;
        payload[5] = 3;
        payload[6] = static_cast<uint8_t>(0x51 | (round & 0x80));
        payload[7] = 4;
        payload[8] = 3;
        message.messageId = kHeartbeat;
        Mavlink_FinalizeMessage(&sender, &message, 1, 1, 0, 9, Mavlink_GetCrcExtra(kHeartbeat));
        Append(stream, message);

        tarn::StoreLe32(payload, static_cast<uint32_t>(round) * 20);
        for (int axis = 0; axis < 6; ++axis) {
            PutFloat(payload + 4 + 4 * axis, step * static_cast<float>(axis + 1) - 0.5f);
        }
        message.messageId = kAttitude;
        Mavlink_FinalizeMessage(&sender, &message, 1, 1, 0, 28, Mavlink_GetCrcExtra(kAttitude));
        Append(stream, message);

        PutFloat(payload, 12.0f + step);
        PutFloat(payload + 4, 11.5f + step);
        PutFloat(payload + 8, 120.0f - step);
        PutFloat(payload + 12, 0.25f);
        tarn::StoreLe16(payload + 16, static_cast<uint16_t>(round % 360));
        tarn::StoreLe16(payload + 18, static_cast<uint16_t>(round % 101));
        message.messageId = kVfrHud;
        Mavlink_FinalizeMessage(&sender, &message, 1, 1, 0, 20, Mavlink_GetCrcExtra(kVfrHud));
        Append(stream, message);

        MavlinkCommandLong command{};
        command.params[0] = step;
        command.params[6] = static_cast<float>(round);
        command.command = static_cast<uint16_t>(246 + round % 4);
        command.targetSystem = 1;
        command.targetComponent = 1;
        Mavlink_EncodeCommandLong(&sender, 255, 0, &message, &command);
        Append(stream, message);
    }
    return stream;
}

void Run(benchmark::State &state, const Stream &stream, ParseFunction parse) {
    MavlinkChannels receiver{};
    MavlinkMessage message{};
    MavlinkStatus status{};
    int64_t frames = 0;
    for (auto _ : state) {
        for (uint8_t byte : stream.bytes) {
            frames += parse(&receiver, 0, byte, &message, &status);
        }
        benchmark::DoNotOptimize(message);
    }
    if (frames != stream.frames * static_cast<int64_t>(state.iterations())) {
        state.SkipWithError("the parser lost frames");
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(stream.bytes.size()));
}

const Stream &Firmware() {
    static const Stream stream = FirmwareStream();
    return stream;
}

const Stream &Telemetry() {
    static const Stream stream = TelemetryStream();
    return stream;
}

void BM_MavlinkParseChar(benchmark::State &state) {
    Run(state, Firmware(), Mavlink_ParseChar);
}
BENCHMARK(BM_MavlinkParseChar);

void BM_MavlinkParseCharBefore(benchmark::State &state) {
    Run(state, Firmware(), MavlinkBefore_ParseChar);
}
BENCHMARK(BM_MavlinkParseCharBefore);

void BM_MavlinkParseTelemetry(benchmark::State &state) {
    Run(state, Telemetry(), Mavlink_ParseChar);
}
BENCHMARK(BM_MavlinkParseTelemetry);

void BM_MavlinkParseTelemetryBefore(benchmark::State &state) {
    Run(state, Telemetry(), MavlinkBefore_ParseChar);
}
BENCHMARK(BM_MavlinkParseTelemetryBefore);

} // namespace
