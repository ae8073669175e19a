// The NAND chip behind a fake /dev/mtdN: an image file read and written with the kernel MTD character driver's
// rules (2048-byte pages, 128 KiB erase blocks, programs that only clear bits, erase stopping at a bad block).
// Bytes past the image file's end read as erased, so a sparse or short image costs nothing.
//
// Used by the preloaded fake driver inside other people's processes: plain C library calls only (no C++
// runtime, no allocation), every image access through the I/O table the caller gives (the preload hands in
// the real calls it interposes).
#pragma once

#include <cstddef>
#include <cstdint>
#include <sys/types.h>

namespace tarn::bench {

inline constexpr uint32_t kNandPageSize = 2048;
inline constexpr uint32_t kNandBlockSize = 128 * 1024;
inline constexpr uint32_t kNandOobSize = 64;
inline constexpr uint32_t kNandMaxBlocks = 4096; // 512 MiB per device
inline constexpr int kNandMaxFlips = 16;

struct NandIo {
    ssize_t (*pread)(int fd, void *buffer, size_t count, off_t offset);
    ssize_t (*pwrite)(int fd, const void *buffer, size_t count, off_t offset);
};

// A byte whose reads come back with some bits inverted: a cell the ECC cannot correct. The driver still
// returns the data without an error, as the kernel does for an uncorrectable page.
struct NandFlip {
    uint32_t offset;
    uint8_t mask;
};

struct NandChip {
    int imageFd = -1;
    uint32_t blocks = 0;
    bool writeProtected = false;
    uint64_t badBlocks[kNandMaxBlocks / 64] = {};
    NandFlip flips[kNandMaxFlips] = {};
    int flipCount = 0;
};

inline uint64_t NandSize(const NandChip &chip) {
    return static_cast<uint64_t>(chip.blocks) * kNandBlockSize;
}
void NandMarkBad(NandChip &chip, uint32_t block);
bool NandIsBadBlock(const NandChip &chip, uint32_t block);

// Each returns what the system call would (a count, an offset or 0), or -errno.
// read(): from position; past the end 0 bytes.
ssize_t NandRead(const NandIo &io, const NandChip &chip, uint64_t position, void *buffer, size_t count);
// The chip's flipped bits applied to bytes read from position.
void NandApplyFlips(const NandChip &chip, uint64_t position, uint8_t *bytes, size_t count);
// write(): ENOSPC at or past the end, EINVAL unless position and count are whole pages (after clipping at the
// end); the stored bits are ANDed with the new ones.
ssize_t NandProgram(const NandIo &io, const NandChip &chip, uint64_t position, const void *buffer, size_t count);
// MEMERASE: EINVAL outside the device or not whole blocks, EROFS when protected; blocks erased in order up to
// a bad one, which gives EIO.
int NandErase(const NandIo &io, const NandChip &chip, uint64_t start, uint64_t length);
// MEMGETBADBLOCK: 1 for a bad block, 0 for a good one, EINVAL outside the device.
int NandBlockIsBad(const NandChip &chip, int64_t offset);
// lseek(): a new position from 0 to the size, EINVAL otherwise.
int64_t NandSeek(const NandChip &chip, uint64_t position, int64_t offset, int whence);

} // namespace tarn::bench
