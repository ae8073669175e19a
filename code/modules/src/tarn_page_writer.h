// Writes an image into one NAND partition page by page, reading every page back: the one writer of the
// partition upgraders. Everything that can be refused is refused before the first erase, so a refusal
// leaves the flash as it was.
#pragma once

#include <cstddef>
#include <cstdint>

#include <csignal>

#include "tarn_flash.h"
#include "tarn_unique_fd.h"

inline constexpr uint32_t kPageWriterPage = 2048;

// A row of a board's partition map, by absolute flash offsets.
struct PartRow {
    const char *name;
    int32_t mtd;
    uint32_t start;
    uint32_t end;
    uint32_t size;
    uint32_t key;
};

// The "\r%4.1f%%" progress over a whole run (one or several images), redrawn only when its text changes.
struct PageProgress {
    uint64_t total = 0;
    uint64_t done = 0;
    char shown[16] = {};
    double tenths = -1.0; // the percentage in tenths, rounded, when it was last formatted
    int redraws = 0;
};

void PageProgress_Advance(PageProgress *pProgress, uint64_t bytes);

// What to write: size bytes of the open file fd from fileOffset on.
struct PageImage {
    const char *pName; // for messages
    int fd;
    uint64_t fileOffset;
    uint64_t size;
};

// The checks before any erase: a non-empty image no larger than the row, a row that is exactly one MTD
// device, no bad block in it. 0, or -1 after one error line with the values (or the bad-block lines).
int PageWriter_Check(Flash *pFlash, const PartRow &row, const PageImage &image);

struct PageWriteOptions {
    // Pages that are all 0xFF are not programmed (UBI reads an erased page as empty), but still read back.
    bool skipErased = false;
    // When set, the raw CRC-32 of the image bytes is chained into it.
    uint32_t *pCrc = nullptr;
    // The bytes of the row that are neither erased nor written nor compared (offsets inside the row).
    uint32_t keepStart = 0;
    uint32_t keepSize = 0;
};

// Erases the row (but the kept range), then writes the image from its start, each page padded with 0xFF,
// written, read back and compared. 0, or -1 after the failing step's lines. The check is the caller's.
int PageWriter_Write(Flash *pFlash, const PartRow &row, const PageImage &image, const PageWriteOptions &options,
                     PageProgress *pProgress);

// A whole image file into a row: the file opened and sized, the checks ("erase flash fail." after a refusal),
// the line that says what goes where, the pages and the progress line. 0, or -1 after the failing step's lines.
int PageWriter_WriteFile(const char *pFile, const PartRow &row, const PageWriteOptions &options);

// One flash-writing run at a time: an exclusive lock on /dev/mtd0, held while the descriptor is open.
// Invalid (after an error line) when another run holds it or the device cannot be opened.
UniqueFd PageWriter_Lock();

// Holds off the signals that end a run (INT, TERM, HUP, QUIT) while a single copy is rewritten, so that a
// user's ^C cannot leave it half written; they are delivered when the scope ends.
class SignalHold {
public:
    SignalHold();
    ~SignalHold();
    SignalHold(const SignalHold &) = delete;
    SignalHold &operator=(const SignalHold &) = delete;

private:
    sigset_t previous_;
};
