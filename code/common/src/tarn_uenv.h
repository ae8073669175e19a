// The boot loader's environment: one block of "name=value" texts in flash with a CRC-32 in front, read
// afresh by every operation and written back whole (read, one erase, one write, read back) by a change.
//
// A block whose CRC does not match (blank, damaged, or not an environment at all) is never rewritten:
// printing warns and goes on, every other operation fails.
#pragma once

#include <cstddef>
#include <cstdint>

inline constexpr uint32_t kUenvOffset = 0x80000;
inline constexpr uint32_t kUenvSize = 0x40000;

// One change of a batch: set pName to pVal, or delete it with a null pVal.
struct UenvChange {
    const char *pName;
    const char *pVal;
};

struct Uenv {
    // Deletes every copy of pName, then appends "pName=pVal" unless pVal is null. A batch of one.
    int (*Set)(const char *pName, const char *pVal);
    // Copies the value with its zero into pVal (size bytes): 0; -1 when not defined; -2 when it does not fit.
    int (*Get)(const char *pName, char *pVal, size_t size);
    int (*Add)(const char *pName, const char *pVal);
    int (*Del)(const char *pName);
    // Prints the variable, or every variable when pName is null.
    int (*Pri)(const char *pName);
    // The changes in order, all or none: one read, one erase and one write. Nothing is written when the list
    // ends up as it was.
    int (*Batch)(const UenvChange *pChanges, int count);
};

int Uenv_Create(Uenv **ppUenv);
void Uenv_Delete(Uenv **ppUenv);

// The block logic, on a block of size bytes in memory (exposed for tests and the fuzzer). Each prints its
// own failure where it is detected.

// Offset of the empty text that ends the list, or -1 after "environment not terminated".
long UenvBlock_ListEnd(const uint8_t *pBlock, size_t size);
// The first variable named pName ("pName=" at its start): its offset, or -1.
long UenvBlock_Find(const uint8_t *pBlock, size_t size, const char *pName);
// Applies the changes; the list must be terminated. 0; -1 after the overflow error (the block is then
// partly changed: callers work on a copy of what flash holds). *pChanged tells whether the list changed.
int UenvBlock_Apply(uint8_t *pBlock, size_t size, const UenvChange *pChanges, int count, bool *pChanged);
// Stores the CRC of the data area in front of it.
void UenvBlock_Seal(uint8_t *pBlock, size_t size);
