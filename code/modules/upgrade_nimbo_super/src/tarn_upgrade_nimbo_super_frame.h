// The 0x55AA frame engine of the second-generation battery, IMU and optical-flow/sonar/ESC modules: a
// 248-byte frame (sync, sequence, device, command, up to 240 data bytes, CRC at offset 246) carried in the
// payload of DEVICE_DATA towards the device and of message 200 back; the reply rules, send and wait, one
// resend, the pass-through flag, flag-wrapped queries, chunked programming with a three-try budget and the
// entry's run loop. A module is its constants, its step list and thin entries on top of this.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "tarn_firmware_file.h"
#include "tarn_mavlink.h"
#include "tarn_uart.h"

inline constexpr size_t kSuperFrameLength = 248;
inline constexpr size_t kSuperCarrierLength = 256; // the 254 payload bytes, in a buffer of 256
inline constexpr uint8_t kSuperMaxData = 240;
inline constexpr size_t kSuperFrameCrcOffset = 246;
inline constexpr size_t kSuperCarrierFrameOffset = 6;
inline constexpr uint8_t kSuperNack = 0xFE;
// Request words: the battery's and IMU's are this base with the command in the low byte; the flight
// controller's pass-through switch is the base with 0x11 for every module.
inline constexpr uint32_t kSuperCodeBase = 0x0F000000;
inline constexpr uint32_t kSuperFlagCode = kSuperCodeBase | 0x11;

constexpr uint32_t SuperFrame_Code(uint8_t command) {
    return kSuperCodeBase | command;
}

using SuperFrameCrc = uint16_t (*)(const uint8_t *bytes, size_t count);

// One module's link to its device; a static instance per module, used by one thread at a time.
struct SuperLink {
    uint8_t deviceId;                   // frame and carrier device id (set by the entry for optical flow and ESCs)
    SuperFrameCrc crc;                  // frame CRC over header and data
    uint32_t readWaitMs;                // per read of the line
    uint32_t replyWaitS;                // default reply wait
    Uart *port;                         // open from the entry's start to its end
    uint32_t sequence;                  // frames built so far; the low byte goes on the wire
    uint8_t reply[kSuperCarrierLength]; // the last accepted carrier
    MavlinkChannels channels;
};

// Frame CRCs: CRC-16/CCITT-FALSE (battery, IMU); the low half of the word-wise CRC-32 (optical flow).
uint16_t SuperFrame_CrcCcitt(const uint8_t *bytes, size_t count);
uint16_t SuperFrame_CrcWords(const uint8_t *bytes, size_t count);

// Fills a zeroed 256-byte carrier: code, device id, frame length, then the frame with its CRC. 0 or -1.
int SuperFrame_Encode(uint8_t *carrier, uint32_t code, uint8_t sequence, uint8_t deviceId, uint8_t command,
                      const uint8_t *data, uint8_t length, SuperFrameCrc crc);
// The carrier's device id and frame length; 0, or -1 after the error line.
int SuperFrame_CheckCarrier(const SuperLink &link, const uint8_t *carrier);
// Sync, length, device id and CRC of a 248-byte frame; 0, or -1 after the error line.
int SuperFrame_CheckFrame(const SuperLink &link, const uint8_t *frame);

enum class SuperReply {
    None,     // not a message 200 for us yet (or one that was dropped)
    Nack,     // the device said not now; keep waiting
    Accepted, // the carrier is in link->reply
};
// Judges one parsed MAVLink message by the reply rules, with their lines.
SuperReply SuperFrame_Judge(SuperLink *link, const MavlinkMessage &message);
// Runs received bytes through the parser and the rules; true once a reply was accepted (the rest is dropped).
bool SuperFrame_Feed(SuperLink *link, const uint8_t *bytes, size_t count);

// Takes the next sequence number, encodes and packs the request as one 262-byte MAVLink frame.
uint16_t SuperFrame_Pack(SuperLink *link, uint32_t code, uint8_t command, const uint8_t *data, uint8_t length,
                         uint8_t *wire);
// Packs with a sequence byte chosen by the caller (the chunk header goes out with 0).
uint16_t SuperFrame_PackWithSequence(SuperLink *link, uint32_t code, uint8_t sequence, uint8_t command,
                                     const uint8_t *data, uint8_t length, uint8_t *wire);

int SuperFrame_Recv(SuperLink *link, uint8_t *buffer, uint32_t count);
int SuperFrame_Send(SuperLink *link, const uint8_t *buffer, uint32_t count);
// Input already waiting belongs to an earlier request: it goes, and the parser starts afresh.
void SuperFrame_Discard(SuperLink *link);
// Waits up to seconds for a reply; 0 with the reply in link->reply, or -1 after the lines.
int SuperFrame_WaitAck(SuperLink *link, uint32_t seconds);
// Discards stale input, sends the packed bytes and waits; 0 or -1 (silent: the caller words it).
int SuperFrame_SendAndWait(SuperLink *link, const uint8_t *wire, uint16_t length, uint32_t seconds);
// A command awaiting a reply: 0, or -1 after "send data but no ack.".
int SuperFrame_Command(SuperLink *link, uint32_t code, uint8_t command, const uint8_t *data, uint8_t length);
// The same bytes sent twice at most, with "send data but no ack, try it again." between.
int SuperFrame_CommandWithResend(SuperLink *link, uint32_t code, uint8_t command, const uint8_t *data, uint8_t length,
                                 uint32_t seconds);
// The flight controller's pass-through switch (no reply); "send data fail." on a failed write.
int SuperFrame_SetFlag(SuperLink *link, uint32_t code, uint8_t flag);

// Reply data, as the queries read it.
inline uint8_t SuperFrame_ReplyLength(const SuperLink &link) {
    return link.reply[kSuperCarrierFrameOffset + 5];
}
inline const uint8_t *SuperFrame_ReplyData(const SuperLink &link) {
    return link.reply + kSuperCarrierFrameOffset + 6;
}

// How the module asks and reads one value with the pass-through switched on around it.
struct SuperQuery {
    uint32_t flagCode;
    uint32_t code;
    uint8_t command;
    uint8_t replyLength;
    unsigned lengthNamed; // the length the refusal names (the optical-flow line says 8 for its 4)
    bool resend;          // one resend (optical flow) or none
    uint32_t replyWaitS;
    uint32_t (*read)(const uint8_t *data);
};
// Port, flag on, 500 ms, request, length check, flag off, port closed. 0, or -1 with *value 0.
int SuperFrame_Query(SuperLink *link, const SuperQuery &query, uint32_t *value);

// How a module programs its image: the frames of one chunk and the shared budget of failed tries.
struct SuperProgram {
    uint32_t dataCode;
    uint8_t dataCommand;
    uint32_t dataWaitS;
    // Optional header frame before each chunk (optical flow): its code, command, wait and data.
    bool chunkHeader;
    uint32_t headerCode;
    uint8_t headerCommand;
    uint32_t headerWaitS;
};
// Chunks of at most 240 bytes; three failed tries over the whole image end it. Progress after each chunk.
int SuperFrame_Program(SuperLink *link, const SuperProgram &program, const uint8_t *image, uint32_t size,
                       std::atomic<uint32_t> *progress);

// Command 0x0D with its reply, 500 ms, then the pass-through off ("set flag error." when that fails).
int SuperFrame_RunToApp(SuperLink *link, uint32_t code, uint32_t flagCode);

// The module's own names for failed file calls.
struct SuperFileTexts {
    const char *statCall;
    const char *openCall;
    const char *readCall;
    const char *noMemory;
};

// What one module's entry does around its procedure.
struct SuperEntry {
    SuperFileTexts texts;
    uint32_t blockLength;     // Firmware_PaddedLength's rule; 0 for the exact size
    int runs;                 // procedure runs at most
    const char *retryWarning; // after the first failed run only
    const char *failure;
    uint32_t pauseAfterFirstMs;  // before the second run
    uint32_t pauseAfterSecondMs; // before the third run
    int (*procedure)();
};
// Loads the image (its own lines, then "get file buf fail."), opens port 0, prints the begin line and runs the
// procedure as the entry says. 0 or -1; the port is closed again.
int SuperFrame_RunEntry(SuperLink *link, const SuperEntry &entry, const char *path, FirmwareImage *image);
