#include "tarn_page_writer.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "tarn_console.h"
#include "tarn_crc.h"
#include "tarn_handle.h"

namespace {

// Pages go to flash one by one but come back a batch at a time: one read-back request per erase block
// instead of one per page. The writer is single-threaded.
constexpr uint32_t kBatchPages = 64;
constexpr uint32_t kBatchSize = kBatchPages * kPageWriterPage;
uint8_t batchOut[kBatchSize];
uint8_t batchIn[kBatchSize];

bool AllErased(const uint8_t *pPage) {
    for (uint32_t index = 0; index < kPageWriterPage; ++index) {
        if (pPage[index] != 0xFF) {
            return false;
        }
    }
    return true;
}

bool InKept(const PageWriteOptions &options, uint32_t rowOffset) {
    return rowOffset >= options.keepStart && rowOffset - options.keepStart < options.keepSize;
}

// Reads count bytes at offset, repeating short reads; the count read (short only at the file's end), or -1.
ssize_t ReadAt(int fd, uint8_t *pBuffer, size_t count, uint64_t offset) {
    size_t got = 0;
    while (got < count) {
        const ssize_t result = pread(fd, pBuffer + got, count - got, static_cast<off_t>(offset + got));
        if (result < 0 && errno == EINTR) {
            continue;
        }
        if (result <= 0) {
            return result < 0 ? -1 : static_cast<ssize_t>(got);
        }
        got += static_cast<size_t>(result);
    }
    return static_cast<ssize_t>(got);
}

int EraseRow(Flash *pFlash, const PartRow &row, const PageWriteOptions &options) {
    if (options.keepSize == 0) {
        return pFlash->Erase(row.start, row.size);
    }
    const uint32_t keepEnd = options.keepStart + options.keepSize;
    if (options.keepStart > 0 && pFlash->Erase(row.start, options.keepStart) != 0) {
        return -1;
    }
    return keepEnd < row.size ? pFlash->Erase(row.start + keepEnd, row.size - keepEnd) : 0;
}

// The bytes of the page at index of the batch that belong to the image (the rest is padding).
uint32_t ImageBytes(uint32_t rowOffset, uint32_t index, uint64_t imageSize) {
    const uint64_t left = imageSize - rowOffset - static_cast<uint64_t>(index) * kPageWriterPage;
    return left < kPageWriterPage ? static_cast<uint32_t>(left) : kPageWriterPage;
}

// Writes the pages of a batch that starts at rowOffset, then reads them back and compares them in order, the
// progress advancing page by page as each is found right.
int WriteBatch(Flash *pFlash, const PartRow &row, const PageWriteOptions &options, uint32_t rowOffset, uint32_t pages,
               uint64_t imageSize, PageProgress *pProgress) {
    bool checked = false; // some page of the batch is outside the kept range
    for (uint32_t index = 0; index < pages; ++index) {
        const uint32_t at = rowOffset + index * kPageWriterPage;
        const uint8_t *page = batchOut + index * kPageWriterPage;
        if (InKept(options, at)) {
            continue;
        }
        checked = true;
        if (!(options.skipErased && AllErased(page)) && pFlash->Write(page, row.start + at, kPageWriterPage) != 0) {
            TARN_ERR("write flash fail.\n");
            return -1;
        }
    }
    if (checked && pFlash->Read(batchIn, row.start + rowOffset, pages * kPageWriterPage) != 0) {
        TARN_ERR("write flash fail.\n");
        return -1;
    }
    for (uint32_t index = 0; index < pages; ++index) {
        const uint32_t from = index * kPageWriterPage;
        if (!InKept(options, rowOffset + from) && memcmp(batchOut + from, batchIn + from, kPageWriterPage) != 0) {
            TARN_ERR("check flash fail.\n");
            return -1;
        }
        PageProgress_Advance(pProgress, ImageBytes(rowOffset, index, imageSize));
    }
    return 0;
}

} // namespace

void PageProgress_Advance(PageProgress *pProgress, uint64_t bytes) {
    pProgress->done += bytes;
    const double percent =
        pProgress->total == 0 ? 100.0 : 100.0 * static_cast<double>(pProgress->done) / pProgress->total;
    // Formatting is most of the cost of a page on fast flash: a value that rounds to the tenth already shown,
    // and is not near a rounding boundary where printf could decide otherwise, shows the same text.
    const double scaled = percent * 10.0 + 0.5;
    const double tenths = floor(scaled);
    if (tenths == pProgress->tenths && scaled - tenths > 1e-6 && tenths + 1.0 - scaled > 1e-6) {
        return;
    }
    pProgress->tenths = tenths;
    char text[sizeof pProgress->shown];
    snprintf(text, sizeof text, "\r%4.1f%%", percent);
    if (strcmp(text, pProgress->shown) != 0) {
        memcpy(pProgress->shown, text, sizeof text);
        ++pProgress->redraws;
        TARN_PRINT("%s", text);
    }
}

int PageWriter_Check(Flash *pFlash, const PartRow &row, const PageImage &image) {
    if (image.size == 0) {
        TARN_ERR("'%s' is empty.\n", image.pName);
        return -1;
    }
    if (image.size > row.size) {
        TARN_ERR("'%s' of %llu bytes does not fit '%s' of %u bytes.\n", image.pName,
                 static_cast<unsigned long long>(image.size), row.name, row.size);
        return -1;
    }
    if (pFlash->ExactPart(row.start, row.size) != row.mtd) {
        TARN_ERR("partition '%s' 0x%x-0x%x is not /dev/mtd%d on this board.\n", row.name, row.start, row.end, row.mtd);
        return -1;
    }
    return pFlash->CheckBad(row.start, row.size);
}

int PageWriter_Write(Flash *pFlash, const PartRow &row, const PageImage &image, const PageWriteOptions &options,
                     PageProgress *pProgress) {
    if (image.size > row.size) {
        TARN_ERR("'%s' of %llu bytes does not fit '%s' of %u bytes.\n", image.pName,
                 static_cast<unsigned long long>(image.size), row.name, row.size);
        return -1;
    }
    if (EraseRow(pFlash, row, options) != 0) {
        TARN_ERR("erase flash fail.\n");
        return -1;
    }
    for (uint64_t done = 0; done < image.size;) {
        const uint64_t remaining = image.size - done;
        const uint32_t chunk = remaining < kBatchSize ? static_cast<uint32_t>(remaining) : kBatchSize;
        const uint32_t pages = (chunk + kPageWriterPage - 1) / kPageWriterPage;
        memset(batchOut, 0xFF, sizeof batchOut);
        const ssize_t got = ReadAt(image.fd, batchOut, chunk, image.fileOffset + done);
        if (got != static_cast<ssize_t>(chunk)) {
            TARN_ERR("Ret=%d, ReadSize=%d, Size=%d.\n", static_cast<int>(got), static_cast<int>(chunk),
                     static_cast<int>(remaining));
            return -1;
        }
        if (options.pCrc != nullptr) {
            *options.pCrc = Crc_Crc32Raw(batchOut, chunk, *options.pCrc);
        }
        if (WriteBatch(pFlash, row, options, static_cast<uint32_t>(done), pages, image.size, pProgress) != 0) {
            return -1;
        }
        done += chunk;
    }
    return 0;
}

int PageWriter_WriteFile(const char *pFile, const PartRow &row, const PageWriteOptions &options) {
    OwnedHandle<Flash, Flash_Delete> flash;
    if (Flash_Create(flash.Address()) != 0) {
        TARN_ERR("Flash_Create \n");
        return -1;
    }
    const UniqueFd file(open(pFile, O_RDONLY | O_CLOEXEC));
    if (!file.IsOpen()) {
        TARN_SYSERR("open");
        return -1;
    }
    const off_t size = lseek(file.Get(), 0, SEEK_END);
    if (size < 0) {
        TARN_SYSERR("lseek");
        return -1;
    }
    const PageImage image{pFile, file.Get(), 0, static_cast<uint64_t>(size)};
    if (PageWriter_Check(flash.Get(), row, image) != 0) {
        TARN_ERR("erase flash fail.\n");
        return -1;
    }
    TARN_INFO("upgrade file '%s' to '%s' partition, will write %d bytes to /dev/mtd%d\n", pFile, row.name,
              static_cast<int>(size), row.mtd);
    PageProgress progress;
    progress.total = image.size;
    if (PageWriter_Write(flash.Get(), row, image, options, &progress) != 0) {
        return -1;
    }
    TARN_PRINT("\n");
    return 0;
}

UniqueFd PageWriter_Lock() {
    UniqueFd device(open("/dev/mtd0", O_RDONLY | O_CLOEXEC));
    if (!device.IsOpen()) {
        TARN_SYSERR("open");
        return device;
    }
    if (flock(device.Get(), LOCK_EX | LOCK_NB) != 0) {
        if (errno == EWOULDBLOCK) {
            TARN_ERR("another run is writing the flash.\n");
        } else {
            TARN_SYSERR("flock");
        }
        return UniqueFd();
    }
    return device;
}

SignalHold::SignalHold() {
    sigset_t held;
    sigemptyset(&held);
    sigaddset(&held, SIGINT);
    sigaddset(&held, SIGTERM);
    sigaddset(&held, SIGHUP);
    sigaddset(&held, SIGQUIT);
    sigprocmask(SIG_BLOCK, &held, &previous_);
}

SignalHold::~SignalHold() {
    sigprocmask(SIG_SETMASK, &previous_, nullptr);
}
