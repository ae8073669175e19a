// The RC/RF frame: 0xAA, device id, command, sequence, data length, data, and a CRC-8 over all bytes before it.
// Both generations of the RC/RF upgraders speak it; each keeps its own parser, sequence counter and line, and
// this piece gives them the record, the wire layout and the acknowledgement wait.
#pragma once

#include <cstddef>
#include <cstdint>

inline constexpr uint8_t kRcrfMagic = 0xAA;
// The first data byte of an acknowledgement.
inline constexpr uint8_t kRcrfAckByte = 0x12;
inline constexpr size_t kRcrfOverhead = 6;
inline constexpr size_t kRcrfMaxDataLength = 255;
inline constexpr size_t kRcrfMaxFrameLength = kRcrfMaxDataLength + kRcrfOverhead;
inline constexpr size_t kRcrfAppInfoLength = 8;

// The frame in memory: the checksum sits before the data here and after it on the wire.
struct RcrfMsg {
    uint8_t magic;
    uint8_t id;
    uint8_t cmd;
    uint8_t seq;
    uint8_t len;
    uint8_t crc;
    uint8_t data[256];
};

// CRC-8, polynomial 0x07, from 0.
uint8_t Rcrf_Crc8(const uint8_t *bytes, size_t count);
// Computes the record's crc over its header and its len data bytes, and stores it.
void Rcrf_SetCrc(RcrfMsg *msg);
// Clears the record and fills a frame to the device, crc included. length is at most kRcrfMaxDataLength.
void Rcrf_Pack(RcrfMsg *msg, uint8_t id, uint8_t cmd, uint8_t seq, const uint8_t *data, uint8_t length);
// Lays the frame out in wire order; the buffer needs kRcrfMaxFrameLength bytes. Returns len + 6.
size_t Rcrf_MsgToBuffer(uint8_t *buffer, const RcrfMsg &msg);
// The application information's data: the image size, then its CRC-8 widened to 32 bits, both little-endian.
void Rcrf_AppInfo(uint8_t data[kRcrfAppInfoLength], const uint8_t *image, uint32_t size);

// A 0x12 acknowledgement; a frame without data is none.
inline bool Rcrf_IsAck(const RcrfMsg &msg) {
    return msg.len != 0 && msg.data[0] == kRcrfAckByte;
}

enum class RcrfParseState : uint8_t { Magic, Id, Cmd, Seq, Len, Data, Crc };

// The byte-wise acknowledgement parser of one user. It takes frames that carry its device id only; after a
// wrong id it looks for the next 0xAA. The received crc is kept, not checked: the devices are not known to
// compute it on their acknowledgements.
struct RcrfParser {
    uint8_t deviceId = 0;
    RcrfParseState state = RcrfParseState::Magic;
    uint8_t index = 0;
    RcrfMsg frame{};
};

// Starts the parser over for the given device.
void Rcrf_ParserReset(RcrfParser *parser, uint8_t deviceId);
// Feeds one byte; true when it was a frame's crc byte, the frame then being parser->frame.
bool Rcrf_ParseByte(RcrfParser *parser, uint8_t byte);

// What one acknowledgement wait reads from and when it ends.
struct RcrfWaitParam {
    // Reads what has arrived, up to capacity bytes, within the user's own per-read wait: the count, 0 for
    // nothing yet, -1 after the user's own line (which ends the wait).
    int (*receive)(void *context, uint8_t *buffer, uint32_t capacity);
    void *context;
    uint32_t readCapacity; // 1 reads byte by byte; at most kRcrfMaxFrameLength
    uint32_t limitMs;      // overall, on the monotonic clock, checked between reads
    // Whether a completed frame ends the wait; nullptr takes the 0x12 acknowledgement only.
    bool (*accepts)(const RcrfMsg &frame, void *context);
};

enum class RcrfWaitResult { Acknowledged, ReadFailed, Expired };

// Feeds what the line carries to the parser, whose state lasts across reads, until a frame the user accepts
// (then the parser's frame) or a failed read or the limit. Prints nothing: the user words each end.
RcrfWaitResult Rcrf_Await(const RcrfWaitParam &param, RcrfParser *parser);
