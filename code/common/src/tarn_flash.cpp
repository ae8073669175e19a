#include "tarn_flash.h"

#include <array>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <mtd/mtd-user.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "tarn_console.h"
#include "tarn_unique_fd.h"

namespace {

constexpr int kMaxParts = 32;

std::array<FlashPart, kMaxParts> parts;
int partCount = 0;
uint32_t references = 0;

void DevicePath(int mtd, char (&path)[32]) {
    snprintf(path, sizeof path, "/dev/mtd%d", mtd);
}

// The rows from the devices present now. A device that is there but cannot be asked ends the rows too,
// after its failure line.
void BuildParts() {
    partCount = 0;
    uint64_t start = 0;
    for (int mtd = 0; mtd < kMaxParts; ++mtd) {
        char path[32];
        DevicePath(mtd, path);
        UniqueFd device(open(path, O_RDONLY | O_CLOEXEC));
        if (!device.IsOpen()) {
            if (errno != ENOENT) {
                TARN_SYSERR("open");
            }
            return;
        }
        mtd_info_user info{};
        if (ioctl(device.Get(), MEMGETINFO, &info) != 0) {
            TARN_SYSERR("MEMGETINFO");
            return;
        }
        if (start + info.size > UINT32_MAX) {
            return; // past what 32-bit offsets reach
        }
        parts[partCount++] = {mtd, static_cast<uint32_t>(start), static_cast<uint32_t>(start + info.size)};
        start += info.size;
    }
}

// Sizes are compared in 64 bits, so a range that wraps past 4 GiB never fits.
const FlashPart *Lookup(uint32_t offset, uint32_t size) {
    for (int index = 0; index < partCount; ++index) {
        const FlashPart &part = parts[index];
        if (part.start <= offset && static_cast<uint64_t>(offset) + size <= part.end) {
            return &part;
        }
    }
    return nullptr;
}

int FindPart(uint32_t offset, uint32_t size, FlashPart *pPart) {
    const FlashPart *part = Lookup(offset, size);
    if (part == nullptr) {
        TARN_ERR("flash offset=0x%x size=0x%x is invalid.\n", offset, size);
        return -1;
    }
    *pPart = *part;
    return 0;
}

// An open partition: its descriptor, geometry and the range's offset inside it.
struct OpenPart {
    int fd = -1;
    mtd_info_user info{};
    uint32_t offset = 0;
};

// The last device opened for reading and the last for writing stay open while a reference is held: a page
// writer that writes and reads back page by page would otherwise open the device twice per page.
struct OpenDevice {
    int32_t mtd = -1;
    UniqueFd fd;
    mtd_info_user info{};
};
OpenDevice openForReading;
OpenDevice openForWriting;

void CloseDevices() {
    openForReading = OpenDevice();
    openForWriting = OpenDevice();
}

int Open(uint32_t offset, uint32_t size, int flags, OpenPart &opened) {
    FlashPart part{};
    if (FindPart(offset, size, &part) != 0) {
        return -1;
    }
    OpenDevice &device = flags == O_RDONLY ? openForReading : openForWriting;
    if (device.mtd != part.mtd || !device.fd.IsOpen()) {
        device = OpenDevice();
        char path[32];
        DevicePath(part.mtd, path);
        device.fd = UniqueFd(open(path, flags | O_CLOEXEC));
        if (!device.fd.IsOpen()) {
            TARN_SYSERR("open");
            return -1;
        }
        if (ioctl(device.fd.Get(), MEMGETINFO, &device.info) != 0) {
            TARN_SYSERR("MEMGETINFO");
            device = OpenDevice();
            return -1;
        }
        device.mtd = part.mtd;
    }
    opened.fd = device.fd.Get();
    opened.info = device.info;
    opened.offset = offset - part.start;
    return 0;
}

// Reads the whole range in one request; writes it page by page, one request a page, as the chip programs
// them. Positioned requests: no seek of its own per page. Reading and writing share the messages; a reader
// opens the device read-only, so a write-protected partition can still be read.
int TransferPages(uint8_t *pInto, const uint8_t *pFrom, uint32_t offset, uint32_t size) {
    OpenPart part;
    if (Open(offset, size, pInto != nullptr ? O_RDONLY : O_RDWR, part) != 0) {
        return -1;
    }
    const uint32_t page = part.info.writesize;
    if (page == 0 || part.offset % page != 0 || size % page != 0) {
        TARN_ERR("flash read offset=0x%x size=0x%x is not multiple of page size=0x%x.\n", part.offset, size, page);
        return -1;
    }
    const uint32_t step = pInto != nullptr ? size : page;
    for (uint32_t done = 0; done < size; done += step) {
        const off_t at = static_cast<off_t>(part.offset + done);
        const ssize_t count =
            pInto != nullptr ? pread(part.fd, pInto + done, step, at) : pwrite(part.fd, pFrom + done, step, at);
        if (count != static_cast<ssize_t>(step)) {
            errno = count < 0 ? errno : EIO;
            TARN_SYSERR(pInto != nullptr ? "read" : "write");
            return -1;
        }
    }
    return 0;
}

int Read(uint8_t *pBuffer, uint32_t offset, uint32_t size) {
    return TransferPages(pBuffer, nullptr, offset, size);
}

int Write(const uint8_t *pBuffer, uint32_t offset, uint32_t size) {
    return TransferPages(nullptr, pBuffer, offset, size);
}

// 0 for a good block, 1 for a bad one (after the warning), -1 after the failure lines.
int QueryBad(int fd, uint32_t block, uint32_t end) {
    int64_t position = block; // the request takes a 64-bit offset
    const int bad = ioctl(fd, MEMGETBADBLOCK, &position);
    if (bad > 0) {
        TARN_WARN("bad block at 0x%x.\n", block);
        return 1;
    }
    if (bad < 0) {
        TARN_SYSERR("ioctl");
        TARN_INFO("erase offset=0x%06x, size=0x%06x\n", block, end);
        return -1;
    }
    return 0;
}

int Erase(uint32_t offset, uint32_t size) {
    OpenPart part;
    if (Open(offset, size, O_RDWR, part) != 0) {
        return -1;
    }
    const uint32_t block = part.info.erasesize;
    if (block == 0 || part.offset % block != 0 || size % block != 0) {
        TARN_ERR("flash erase offset=0x%x size=0x%x is not multiple of page size=0x%x.\n", part.offset, size, block);
        return -1;
    }
    const uint32_t end = part.offset + size;
    for (uint32_t at = part.offset; at < end; at += block) {
        if (QueryBad(part.fd, at, end) != 0) {
            return -1;
        }
        erase_info_user erase{at, block};
        if (ioctl(part.fd, MEMERASE, &erase) != 0) {
            TARN_SYSERR("ioctl");
            TARN_INFO("erase offset=0x%06x, size=0x%06x\n", at, end);
            return -1;
        }
    }
    return 0;
}

int CheckBad(uint32_t offset, uint32_t size) {
    OpenPart part;
    if (Open(offset, size, O_RDONLY, part) != 0) {
        return -1;
    }
    // Every block the range touches, from the one holding its first byte.
    const uint32_t block = part.info.erasesize != 0 ? part.info.erasesize : 1;
    const uint32_t end = part.offset + size;
    for (uint32_t at = part.offset - part.offset % block; at < end; at += block) {
        if (QueryBad(part.fd, at, end) != 0) {
            return -1;
        }
    }
    return 0;
}

int ExactPart(uint32_t start, uint32_t size) {
    for (int index = 0; index < partCount; ++index) {
        if (parts[index].start == start && parts[index].end - parts[index].start == size) {
            return parts[index].mtd;
        }
    }
    return -1;
}

Flash flash{Read, Write, Erase, CheckBad, FindPart, ExactPart};

} // namespace

int Flash_Create(Flash **ppFlash) {
    TARN_ASSERT(ppFlash);
    if (references++ == 0) {
        BuildParts();
    }
    *ppFlash = &flash;
    return 0;
}

void Flash_Delete(Flash **ppFlash) {
    TARN_ASSERT(ppFlash);
    if (*ppFlash != nullptr && references > 0 && --references == 0) {
        CloseDevices();
    }
    *ppFlash = nullptr;
}
