// The RC/RF acknowledgement wait over any bytes a line may carry, read in any pieces: it ends, its answer does
// not depend on how the bytes were cut, an acknowledgement it reports is one of its device's, and a frame
// packed from the same bytes comes back from the parser unchanged.
#include <cstring>

#include "fuzz_support.h"
#include "tarn_rcrf.h"

namespace {

struct Line {
    const uint8_t *bytes;
    size_t size;
    size_t at;
    uint32_t piece;
};

int Receive(void *context, uint8_t *buffer, uint32_t capacity) {
    Line *line = static_cast<Line *>(context);
    if (line->at == line->size) {
        return -1;
    }
    size_t count = line->size - line->at;
    count = count < capacity ? count : capacity;
    count = count < line->piece ? count : line->piece;
    memcpy(buffer, line->bytes + line->at, count);
    line->at += count;
    return static_cast<int>(count);
}

RcrfWaitResult Wait(const uint8_t *bytes, size_t size, uint8_t deviceId, uint32_t piece, RcrfParser *parser) {
    Line line = {bytes, size, 0, piece};
    Rcrf_ParserReset(parser, deviceId);
    const RcrfWaitParam param = {Receive, &line, 512, 60000, nullptr};
    return Rcrf_Await(param, parser);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    fuzz::Input input(data, size);
    const uint8_t deviceId = input.Byte();
    const uint32_t piece = 1u + input.Byte();
    const uint8_t *bytes = input.Rest();
    const size_t count = input.Left();

    RcrfParser whole;
    RcrfParser pieces;
    const RcrfWaitResult byWhole = Wait(bytes, count, deviceId, 1, &whole);
    const RcrfWaitResult byPieces = Wait(bytes, count, deviceId, piece, &pieces);
    FUZZ_CHECK(byWhole == RcrfWaitResult::Acknowledged || byWhole == RcrfWaitResult::ReadFailed);
    FUZZ_CHECK(byWhole == byPieces);
    if (byWhole == RcrfWaitResult::Acknowledged) {
        FUZZ_CHECK(memcmp(&whole.frame, &pieces.frame, sizeof(RcrfMsg)) == 0);
        FUZZ_CHECK(whole.frame.magic == kRcrfMagic && whole.frame.id == deviceId && Rcrf_IsAck(whole.frame));
    }

    // Round trip: the bytes as a frame's data.
    const uint8_t length = static_cast<uint8_t>(count < kRcrfMaxDataLength ? count : kRcrfMaxDataLength);
    RcrfMsg sent;
    Rcrf_Pack(&sent, deviceId, piece & 0xFF, deviceId ^ 0x5A, bytes, length);
    uint8_t wire[kRcrfMaxFrameLength];
    const size_t wireLength = Rcrf_MsgToBuffer(wire, sent);
    FUZZ_CHECK(wireLength == length + kRcrfOverhead);
    FUZZ_CHECK(Rcrf_Crc8(wire, wireLength - 1) == wire[wireLength - 1]);
    RcrfParser parser;
    Rcrf_ParserReset(&parser, deviceId);
    size_t completed = 0;
    for (size_t at = 0; at < wireLength; ++at) {
        if (Rcrf_ParseByte(&parser, wire[at])) {
            completed = at + 1;
        }
    }
    FUZZ_CHECK(completed == wireLength && memcmp(&parser.frame, &sent, sizeof(RcrfMsg)) == 0);
    return 0;
}
