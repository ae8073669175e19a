// Descriptor I/O for the single-threaded upgraders: every wait on the line is bounded, and every failure is
// handed back to the caller, which prints it at its own place (FDIO_REPORT) and adds its own line.
#pragma once

#include <cerrno>
#include <cstddef>
#include <cstdint>

#include "tarn_console.h"

enum class FdioStatus {
    Ok,
    TimedOut,
    Failed,
};

struct FdioResult {
    FdioStatus status;
    const char *failedCall; // the system call that failed, as the console names it
    int error;              // its errno
};

// Puts an open serial line in raw 8N1 at 4800, 9600, 19200 or 115200 baud, VMIN 1 and VTIME 0, pending
// input discarded.
FdioResult Fdio_ConfigureSerial(int fd, int baudrate);

// Opens a serial device for blocking reads and writes, takes it exclusively and configures it as above. A line
// that another process holds fails with error EBUSY (Fdio_LineInUse) before its settings are touched.
FdioResult Fdio_OpenSerial(const char *device, int baudrate, int *fd);

inline bool Fdio_LineInUse(const FdioResult &result) {
    return result.status == FdioStatus::Failed && result.error == EBUSY;
}

constexpr bool Fdio_IsSupportedBaudrate(int baudrate) {
    return baudrate == 4800 || baudrate == 9600 || baudrate == 19200 || baudrate == 115200;
}

// Reads exactly count bytes; each wait for more is bounded by waitMs on its own.
FdioResult Fdio_ReadExact(int fd, void *buffer, size_t count, uint32_t waitMs);

// Writes every byte, repeating write after partial writes.
FdioResult Fdio_WriteAll(int fd, const void *buffer, size_t count);

// Discards what the line sends, one byte per call of the caller's receive (which reports its own time-out),
// until a receive fails or traffic has gone on for limitMs. Returns true when the limit ended the drain.
bool Fdio_DrainUntilSilent(int (*receive)(uint8_t *buffer, uint32_t count), uint32_t limitMs);

// Prints a failed result at the caller's place: the receive time-out warning, or the failed system call.
#define FDIO_REPORT(result)                                                                                            \
    do {                                                                                                               \
        const FdioResult &fdioReported = (result);                                                                     \
        if (fdioReported.status == FdioStatus::TimedOut) {                                                             \
            TARN_WARN("read timeout.\n");                                                                              \
        } else if (fdioReported.status == FdioStatus::Failed) {                                                        \
            errno = fdioReported.error;                                                                                \
            TARN_SYSERR(fdioReported.failedCall);                                                                      \
        }                                                                                                              \
    } while (0)

// Prints a failed Fdio_OpenSerial at the caller's place: a line held elsewhere gets its own line.
#define FDIO_REPORT_OPEN(result, device)                                                                               \
    do {                                                                                                               \
        const FdioResult &fdioOpened = (result);                                                                       \
        if (Fdio_LineInUse(fdioOpened)) {                                                                              \
            TARN_ERR("%s is in use.\n", (device));                                                                     \
        } else {                                                                                                       \
            FDIO_REPORT(fdioOpened);                                                                                   \
        }                                                                                                              \
    } while (0)
