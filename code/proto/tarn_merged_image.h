// The merged release image: components one after another, each behind a 24-byte head (name, size and the
// raw CRC-32 of its bytes, little-endian). binmerge writes it, the A/B upgrade reads it.
#pragma once

#include <cstddef>
#include <cstdint>

inline constexpr size_t kMergedHeadSize = 24;
inline constexpr size_t kMergedNameSize = 16;
inline constexpr int kMergedComponentCount = 4;

// The component types in the order a merged image holds them.
enum MergedType { kMergedUboot = 0, kMergedKernel = 1, kMergedRootfs = 2, kMergedAppfs = 3 };

struct MergedHead {
    char name[kMergedNameSize + 1]; // always terminated
    int type;                       // MergedType, -1 when the name is none of the four
    uint32_t size;
    uint32_t crc;
};

enum class MergedStatus {
    Ok,
    ShortHead,   // fewer than 24 bytes left
    BadName,     // not terminated inside its 16 bytes, or not a component's name
    ZeroSize,    // a component of no bytes
    PastEnd,     // more bytes than the image has after the head
    CrcMismatch, // the bytes do not give the head's CRC
    TooMany,     // more components than the caller has room for
};

// "uboot", "kernel", "rootfs", "appfs"; nullptr for another type.
const char *Merged_TypeName(int type);

// The head of a component of the given type.
void Merged_PackHead(int type, uint32_t size, uint32_t crc, uint8_t (&head)[kMergedHeadSize]);

// Reads a head from 24 bytes; bytesAfter is what the image holds after them. Names are refused unless
// terminated inside their 16 bytes and one of the four; sizes unless above zero and within bytesAfter.
// The head is filled in (name cut at 16 characters) whatever the status, for the caller's message.
MergedStatus Merged_ParseHead(const uint8_t *pBytes, uint64_t bytesAfter, MergedHead *pHead);

struct MergedComponent {
    MergedHead head;
    size_t offset; // of its bytes in the image
};

struct MergedWalk {
    MergedStatus status;
    int count;            // components checked good
    size_t offset;        // where the failing head starts
    MergedHead head;      // the failing component's head
    uint32_t computedCrc; // with CrcMismatch
};

// Checks every component of an image in memory, head and CRC; fills up to capacity components in order.
MergedWalk Merged_Walk(const uint8_t *pImage, size_t size, MergedComponent *pComponents, int capacity);
