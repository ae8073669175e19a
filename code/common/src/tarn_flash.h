// The computer's NAND flash by absolute offset: finds the MTD partition that holds a range and reads,
// writes or erases it in whole pages or erase blocks.
//
// The partition rows are built from the devices themselves when the first reference is taken: /dev/mtd0,
// /dev/mtd1, ... in order until one is missing, each sized by MEMGETINFO, laid end to end from offset 0. So
// no board carries a table, and a range is found by containment on whichever board the tool runs on.
//
// One process-wide object with a reference count; single-threaded use only.
#pragma once

#include <cstdint>

struct FlashPart {
    int32_t mtd;    // n of /dev/mtd<n>
    uint32_t start; // absolute offset of its first byte
    uint32_t end;   // absolute offset just past its last byte
};

struct Flash {
    int (*Read)(uint8_t *pBuffer, uint32_t offset, uint32_t size);
    // Into flash erased before.
    int (*Write)(const uint8_t *pBuffer, uint32_t offset, uint32_t size);
    // The erase blocks that cover the range; stops at a bad block.
    int (*Erase)(uint32_t offset, uint32_t size);
    // Asks for every erase block the range touches whether it is bad, erasing nothing: 0 when none is, -1
    // after the "bad block" warning or a failure line.
    int (*CheckBad)(uint32_t offset, uint32_t size);
    // The row that holds the range: 0, or -1 after the "is invalid" error.
    int (*FindPart)(uint32_t offset, uint32_t size, FlashPart *pPart);
    // The MTD device that starts at start and is exactly size bytes long: its number, or -1 (nothing
    // printed). A partition tool made for one board refuses to write on another with it.
    int (*ExactPart)(uint32_t start, uint32_t size);
};

// Returns 0; takes one more reference to the one object (and builds the rows on the first).
int Flash_Create(Flash **ppFlash);
void Flash_Delete(Flash **ppFlash);
