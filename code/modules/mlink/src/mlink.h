// The mlink frame: AA, device id, command, sequence, length, payload, 8-bit sum. Packing, validation, the dump
// line printed on errors, and the byte-wise receive state machine that every mlink connection runs.
#pragma once

#include <cstddef>
#include <cstdint>

inline constexpr uint8_t kMlinkStart = 0xAA;
inline constexpr uint8_t kMlinkDevIdXtb = 0x05;
inline constexpr uint8_t kMlinkDevIdLens = 0x09;
inline constexpr size_t kMlinkPayloadMax = 256;
inline constexpr size_t kMlinkHeaderSize = 5;
// Header, 255 payload bytes and the checksum.
inline constexpr size_t kMlinkFrameMax = kMlinkHeaderSize + 255 + 1;

// In memory the checksum stands before the payload; on the wire it follows it. A record whose start byte is
// 0 is empty.
struct MlinkMsg {
    uint8_t start;
    uint8_t devid;
    uint8_t cmd;
    uint8_t seq;
    uint8_t len;
    uint8_t checksum;
    uint8_t payload[kMlinkPayloadMax];
};

// The caller zero-fills the record first. pPayload may be null when len is 0.
void Mlink_Pack(MlinkMsg *pMsg, uint8_t devid, uint8_t cmd, uint8_t seq, uint8_t len, const uint8_t *pPayload);
uint8_t Mlink_Checksum(const MlinkMsg *pMsg);
// 1 when the stored checksum matches; otherwise prints both sums and the dump and returns 0.
int Mlink_IsValid(const MlinkMsg *pMsg);
// The record in wire order, one plain line.
void Mlink_Dump(const MlinkMsg *pMsg);
// Wire bytes of the record with a freshly computed checksum; returns len + 6.
size_t Mlink_Serialise(const MlinkMsg *pMsg, uint8_t (&frame)[kMlinkFrameMax]);

// Receive state machine: the assembly record, state and payload counter persist between chunks, so a frame
// may arrive split over any number of reads. Owned by the one thread that reads the connection's port.
class MlinkParser {
public:
    explicit MlinkParser(uint8_t devid) : devid_(devid) {}

    // Runs one byte through the machine; returns the assembled record when it completed a valid frame (it
    // stays valid until the next call), else null. Wrong device ids and bad checksums are reported here.
    const MlinkMsg *Push(uint8_t byte);

private:
    enum class State : uint8_t { Start, DevId, Cmd, Seq, Len, Payload, Checksum };

    uint8_t devid_;
    State state_ = State::Start;
    uint32_t counter_ = 0;
    MlinkMsg assembly_{};
};
