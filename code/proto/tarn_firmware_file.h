// Firmware images are read whole into memory before a device is touched: size by stat, one read, the count
// checked, the buffer padded as the device's protocol wants. Failures are handed back for the calling
// module to print at its own place (FIRMWARE_REPORT) before it adds its own line.
#pragma once

#include <cerrno>
#include <cstdint>
#include <memory>

#include "tarn_console.h"

struct FirmwareImage {
    std::unique_ptr<uint8_t[]> bytes;
    uint32_t size = 0;   // bytes of the file
    uint32_t length = 0; // bytes of the buffer, padding included
};

enum class FirmwareStatus {
    Ok,
    Empty,
    OpenFailed,
    NoMemory,
    ReadFailed,
    ShortRead,
};

struct FirmwareLoad {
    FirmwareStatus status;
    int error;      // errno of a failed system call
    long countRead; // what the read returned, for a short read
};

// The file's size, or -1 with errno set (also for files of 4 GiB or more).
int Firmware_GetSize(const char *path, uint32_t *size);

// The buffer length for a file of size bytes: with a block length, the next whole number of blocks that is
// longer than the file (so a file of whole blocks gets one more); with 0, the size itself.
uint64_t Firmware_PaddedLength(uint32_t size, uint32_t blockLength);

// Reads a file of the given size into a buffer filled with the fill byte. An empty file is refused: no device
// wants a blank image.
FirmwareLoad Firmware_Load(const char *path, uint32_t size, uint32_t blockLength, uint8_t fill, FirmwareImage *image);

// Prints a failed load with the lines of the first-generation upgraders, at the caller's place.
#define FIRMWARE_REPORT(load, size)                                                                                    \
    do {                                                                                                               \
        const FirmwareLoad &firmwareReported = (load);                                                                 \
        errno = firmwareReported.error;                                                                                \
        switch (firmwareReported.status) {                                                                             \
            case FirmwareStatus::Ok:                                                                                   \
                break;                                                                                                 \
            case FirmwareStatus::Empty:                                                                                \
                TARN_ERR("file is empty.\n");                                                                          \
                break;                                                                                                 \
            case FirmwareStatus::OpenFailed:                                                                           \
                TARN_SYSERR("open");                                                                                   \
                break;                                                                                                 \
            case FirmwareStatus::NoMemory:                                                                             \
                TARN_ERR("malloc\n");                                                                                  \
                break;                                                                                                 \
            case FirmwareStatus::ReadFailed:                                                                           \
                TARN_SYSERR("read");                                                                                   \
                break;                                                                                                 \
            case FirmwareStatus::ShortRead:                                                                            \
                TARN_ERR("read %d byte except %d byte.\n", static_cast<int>(firmwareReported.countRead),               \
                         static_cast<int>(size));                                                                      \
                break;                                                                                                 \
        }                                                                                                              \
    } while (0)
