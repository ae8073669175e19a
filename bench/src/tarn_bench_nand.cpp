#include "tarn_bench_nand.h"

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace tarn::bench {

namespace {

int64_t ImageSize(int fd) {
    struct stat status {};
    return fstat(fd, &status) == 0 ? status.st_size : -1;
}

// Reads image bytes, erased (0xFF) where the file has none.
int ReadImage(const NandIo &io, int fd, uint64_t position, uint8_t *buffer, size_t count) {
    size_t done = 0;
    while (done < count) {
        const ssize_t got = io.pread(fd, buffer + done, count - done, static_cast<off_t>(position + done));
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            return -errno;
        }
        if (got == 0) {
            memset(buffer + done, 0xFF, count - done);
            break;
        }
        done += static_cast<size_t>(got);
    }
    return 0;
}

int WriteImage(const NandIo &io, int fd, uint64_t position, const uint8_t *buffer, size_t count) {
    size_t done = 0;
    while (done < count) {
        const ssize_t put = io.pwrite(fd, buffer + done, count - done, static_cast<off_t>(position + done));
        if (put < 0) {
            if (errno == EINTR) {
                continue;
            }
            return -errno;
        }
        done += static_cast<size_t>(put);
    }
    return 0;
}

// Writes erased bytes over [begin, end) of the image, but never beyond its end: past it reads erased anyway.
int FillErased(const NandIo &io, int fd, uint64_t begin, uint64_t end) {
    static const uint8_t kErased[kNandPageSize] = {
#define TARN_FF16 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF
#define TARN_FF128 TARN_FF16, TARN_FF16, TARN_FF16, TARN_FF16, TARN_FF16, TARN_FF16, TARN_FF16, TARN_FF16
        TARN_FF128, TARN_FF128, TARN_FF128, TARN_FF128, TARN_FF128, TARN_FF128, TARN_FF128, TARN_FF128,
        TARN_FF128, TARN_FF128, TARN_FF128, TARN_FF128, TARN_FF128, TARN_FF128, TARN_FF128, TARN_FF128,
#undef TARN_FF128
#undef TARN_FF16
    };
    for (uint64_t position = begin; position < end;) {
        const size_t count = static_cast<size_t>(end - position < kNandPageSize ? end - position : kNandPageSize);
        const int result = WriteImage(io, fd, position, kErased, count);
        if (result != 0) {
            return result;
        }
        position += count;
    }
    return 0;
}

} // namespace

void NandMarkBad(NandChip &chip, uint32_t block) {
    if (block < kNandMaxBlocks) {
        chip.badBlocks[block / 64] |= uint64_t{1} << (block % 64);
    }
}

bool NandIsBadBlock(const NandChip &chip, uint32_t block) {
    return block < kNandMaxBlocks && (chip.badBlocks[block / 64] >> (block % 64) & 1) != 0;
}

ssize_t NandRead(const NandIo &io, const NandChip &chip, uint64_t position, void *buffer, size_t count) {
    const uint64_t size = NandSize(chip);
    if (position >= size) {
        return 0;
    }
    if (count > size - position) {
        count = static_cast<size_t>(size - position);
    }
    uint8_t *bytes = static_cast<uint8_t *>(buffer);
    const int result = ReadImage(io, chip.imageFd, position, bytes, count);
    if (result != 0) {
        return result;
    }
    NandApplyFlips(chip, position, bytes, count);
    return static_cast<ssize_t>(count);
}

void NandApplyFlips(const NandChip &chip, uint64_t position, uint8_t *bytes, size_t count) {
    for (int index = 0; index < chip.flipCount; ++index) {
        const NandFlip &flip = chip.flips[index];
        if (flip.offset >= position && flip.offset - position < count) {
            bytes[flip.offset - position] ^= flip.mask;
        }
    }
}

ssize_t NandProgram(const NandIo &io, const NandChip &chip, uint64_t position, const void *buffer, size_t count) {
    const uint64_t size = NandSize(chip);
    if (position >= size) {
        return -ENOSPC;
    }
    if (count > size - position) {
        count = static_cast<size_t>(size - position);
    }
    if (count == 0) {
        return 0;
    }
    if (position % kNandPageSize != 0 || count % kNandPageSize != 0) {
        return -EINVAL;
    }
    if (chip.writeProtected) {
        return -EROFS;
    }
    const int64_t imageSize = ImageSize(chip.imageFd);
    if (imageSize < 0) {
        return -errno;
    }
    // A hole in the file would read as zeros: the pages skipped before this one are written erased first.
    if (position > static_cast<uint64_t>(imageSize)) {
        const int result = FillErased(io, chip.imageFd, static_cast<uint64_t>(imageSize), position);
        if (result != 0) {
            return result;
        }
    }
    const uint8_t *bytes = static_cast<const uint8_t *>(buffer);
    for (size_t done = 0; done < count; done += kNandPageSize) {
        uint8_t page[kNandPageSize];
        int result = ReadImage(io, chip.imageFd, position + done, page, kNandPageSize);
        for (uint32_t index = 0; result == 0 && index < kNandPageSize; ++index) {
            page[index] &= bytes[done + index];
        }
        if (result == 0) {
            result = WriteImage(io, chip.imageFd, position + done, page, kNandPageSize);
        }
        if (result != 0) {
            return result;
        }
    }
    return static_cast<ssize_t>(count);
}

int NandErase(const NandIo &io, const NandChip &chip, uint64_t start, uint64_t length) {
    const uint64_t size = NandSize(chip);
    if (start >= size || length > size - start) {
        return -EINVAL;
    }
    if (chip.writeProtected) {
        return -EROFS;
    }
    if (length == 0) {
        return 0;
    }
    if (start % kNandBlockSize != 0 || length % kNandBlockSize != 0) {
        return -EINVAL;
    }
    const int64_t imageSize = ImageSize(chip.imageFd);
    if (imageSize < 0) {
        return -errno;
    }
    for (uint64_t block = start; block < start + length; block += kNandBlockSize) {
        if (NandIsBadBlock(chip, static_cast<uint32_t>(block / kNandBlockSize))) {
            return -EIO;
        }
        const uint64_t end = block + kNandBlockSize;
        if (block < static_cast<uint64_t>(imageSize)) {
            const int result =
                FillErased(io, chip.imageFd, block, end < static_cast<uint64_t>(imageSize) ? end : imageSize);
            if (result != 0) {
                return result;
            }
        }
    }
    return 0;
}

int NandBlockIsBad(const NandChip &chip, int64_t offset) {
    if (offset < 0 || static_cast<uint64_t>(offset) >= NandSize(chip)) {
        return -EINVAL;
    }
    return NandIsBadBlock(chip, static_cast<uint32_t>(offset / kNandBlockSize)) ? 1 : 0;
}

int64_t NandSeek(const NandChip &chip, uint64_t position, int64_t offset, int whence) {
    const int64_t size = static_cast<int64_t>(NandSize(chip));
    switch (whence) {
        case SEEK_SET:
            break;
        case SEEK_CUR:
            offset += static_cast<int64_t>(position);
            break;
        case SEEK_END:
            offset += size;
            break;
        default:
            return -EINVAL;
    }
    return offset >= 0 && offset <= size ? offset : -EINVAL;
}

} // namespace tarn::bench
