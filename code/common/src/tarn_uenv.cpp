#include "tarn_uenv.h"

#include <cstring>
#include <new>

#include "tarn_byte_order.h"
#include "tarn_console.h"
#include "tarn_crc.h"
#include "tarn_flash.h"
#include "tarn_handle.h"

namespace {

constexpr size_t kCrcSize = 4;

// The block as read, and what is read back after a write. One operation at a time.
uint8_t block[kUenvSize];
uint8_t readBack[kUenvSize];

using FlashHandle = OwnedHandle<Flash, Flash_Delete>;

// The stored and the computed CRC.
struct BlockCrc {
    uint32_t stored;
    uint32_t computed;
};

BlockCrc CrcOf(const uint8_t *pBlock, size_t size) {
    return {tarn::LoadLe32(pBlock), Crc_Crc32Ieee(pBlock + kCrcSize, size - kCrcSize)};
}

bool Matches(const uint8_t *text, const uint8_t *end, const char *pName) {
    const size_t length = strlen(pName);
    return static_cast<size_t>(end - text) > length && memcmp(text, pName, length) == 0 && text[length] == '=';
}

// Length of the text at offset (up to its zero), or -1 when the block ends first.
long TextLength(const uint8_t *pBlock, size_t size, size_t offset) {
    const void *zero = memchr(pBlock + offset, 0, size - offset);
    return zero == nullptr ? -1 : static_cast<const uint8_t *>(zero) - (pBlock + offset);
}

// What a block whose CRC does not match means to the operation reading it.
enum class BadCrc { Fails, Warns };

// Takes the flash, reads the block and walks it, then checks its CRC. Returns 0 with the block's list end, or
// -1 after the failure lines (the read's own, then readFailure; or the walk's, or the CRC's).
int Load(FlashHandle &flash, const char *readFailure, BadCrc onBadCrc, long *pListEnd) {
    if (Flash_Create(flash.Address()) != 0) {
        TARN_ERR("Flash_Create \n");
        return -1;
    }
    if (flash->Read(block, kUenvOffset, kUenvSize) != 0) {
        TARN_ERR("%s", readFailure);
        return -1;
    }
    *pListEnd = UenvBlock_ListEnd(block, kUenvSize);
    if (*pListEnd < 0) {
        return -1;
    }
    const BlockCrc crc = CrcOf(block, kUenvSize);
    if (crc.stored == crc.computed) {
        return 0;
    }
    if (onBadCrc == BadCrc::Warns) {
        TARN_WARN("uboot env CRC error: 0x%08x != 0x%08x\n", crc.stored, crc.computed);
        return 0;
    }
    TARN_ERR("uboot env CRC error: 0x%08x != 0x%08x\n", crc.stored, crc.computed);
    return -1;
}

int Batch(const UenvChange *pChanges, int count) {
    for (int index = 0; index < count; ++index) {
        TARN_ASSERT(pChanges[index].pName);
        const char *name = pChanges[index].pName;
        if (*name == '\0' || strchr(name, '=') != nullptr) {
            TARN_ERR("invalid name \"%s\".\n", name);
            return -1;
        }
    }
    FlashHandle flash;
    long listEnd = 0;
    if (Load(flash, "write flash fail.\n", BadCrc::Fails, &listEnd) != 0) {
        return -1;
    }
    bool changed = false;
    if (UenvBlock_Apply(block, kUenvSize, pChanges, count, &changed) != 0) {
        return -1;
    }
    if (!changed) {
        return 0;
    }
    UenvBlock_Seal(block, kUenvSize);
    if (flash->CheckBad(kUenvOffset, kUenvSize) != 0 || flash->Erase(kUenvOffset, kUenvSize) != 0) {
        TARN_ERR("erase fail.\n");
        return -1;
    }
    if (flash->Write(block, kUenvOffset, kUenvSize) != 0 || flash->Read(readBack, kUenvOffset, kUenvSize) != 0 ||
        memcmp(block, readBack, kUenvSize) != 0) {
        TARN_ERR("write flash fail.\n");
        return -1;
    }
    return 0;
}

int Set(const char *pName, const char *pVal) {
    TARN_ASSERT(pName);
    const UenvChange change{pName, pVal};
    return Batch(&change, 1);
}

int Get(const char *pName, char *pVal, size_t size) {
    TARN_ASSERT(pName);
    TARN_ASSERT(pVal);
    FlashHandle flash;
    long listEnd = 0;
    if (Load(flash, "read flash fail.\n", BadCrc::Fails, &listEnd) != 0) {
        return -1;
    }
    const long found = UenvBlock_Find(block, static_cast<size_t>(listEnd), pName);
    if (found < 0) {
        TARN_ERR("\"%s\" not defined\n", pName);
        return -1;
    }
    const char *value = reinterpret_cast<const char *>(block) + found + strlen(pName) + 1;
    const size_t length = strlen(value);
    if (length >= size) {
        TARN_ERR("\"%s\" too long\n", pName);
        return -2;
    }
    memcpy(pVal, value, length + 1);
    return 0;
}

int Add(const char *pName, const char *pVal) {
    TARN_ASSERT(pName);
    TARN_ASSERT(pVal);
    if (Set(pName, pVal) != 0) {
        TARN_ERR("add uboot env \"%s=%s\" fail.\n", pName, pVal);
        return -1;
    }
    return 0;
}

int Del(const char *pName) {
    TARN_ASSERT(pName);
    if (Set(pName, nullptr) != 0) {
        TARN_ERR("del uboot env \"%s\" fail.\n", pName);
        return -1;
    }
    return 0;
}

int Pri(const char *pName) {
    FlashHandle flash;
    long listEnd = 0;
    if (Load(flash, "read flash fail.\n", BadCrc::Warns, &listEnd) != 0) {
        return -1;
    }
    if (pName != nullptr) {
        const long found = UenvBlock_Find(block, static_cast<size_t>(listEnd), pName);
        if (found < 0) {
            TARN_WARN("\"%s\" not defined\n", pName);
            return -1;
        }
        TARN_INFO("%s\n", reinterpret_cast<const char *>(block) + found);
        return 0;
    }
    for (size_t at = kCrcSize; at < static_cast<size_t>(listEnd);) {
        const char *text = reinterpret_cast<const char *>(block) + at;
        TARN_INFO("%s\n", text);
        at += strlen(text) + 1;
    }
    return 0;
}

} // namespace

long UenvBlock_ListEnd(const uint8_t *pBlock, size_t size) {
    size_t at = kCrcSize;
    long length = 0;
    while (at < size && pBlock[at] != 0 && (length = TextLength(pBlock, size, at)) >= 0) {
        at += static_cast<size_t>(length) + 1;
    }
    if (at >= size || length < 0) {
        TARN_ERR("environment not terminated\n");
        return -1;
    }
    return static_cast<long>(at);
}

long UenvBlock_Find(const uint8_t *pBlock, size_t size, const char *pName) {
    for (size_t at = kCrcSize; at < size && pBlock[at] != 0;) {
        const long length = TextLength(pBlock, size, at);
        if (length < 0) {
            return -1;
        }
        if (Matches(pBlock + at, pBlock + at + length, pName)) {
            return static_cast<long>(at);
        }
        at += static_cast<size_t>(length) + 1;
    }
    return -1;
}

int UenvBlock_Apply(uint8_t *pBlock, size_t size, const UenvChange *pChanges, int count, bool *pChanged) {
    long listEnd = UenvBlock_ListEnd(pBlock, size);
    if (listEnd < 0) {
        return -1;
    }
    *pChanged = false;
    for (int index = 0; index < count; ++index) {
        const UenvChange &change = pChanges[index];
        // Every copy goes: a block made elsewhere may hold a name twice.
        for (long found; (found = UenvBlock_Find(pBlock, static_cast<size_t>(listEnd), change.pName)) >= 0;) {
            const size_t next = static_cast<size_t>(found) + strlen(reinterpret_cast<char *>(pBlock) + found) + 1;
            // The rest of the list moves down, its closing empty text included.
            memmove(pBlock + found, pBlock + next, static_cast<size_t>(listEnd) + 1 - next);
            listEnd -= static_cast<long>(next - static_cast<size_t>(found));
            *pChanged = true;
        }
        if (change.pVal == nullptr) {
            continue;
        }
        const size_t name = strlen(change.pName);
        const size_t value = strlen(change.pVal);
        if (name + value + 3 > size - static_cast<size_t>(listEnd)) {
            TARN_ERR("environment overflow, \"%s\" deleted\n", change.pName);
            return -1;
        }
        uint8_t *at = pBlock + listEnd;
        memcpy(at, change.pName, name);
        at[name] = '=';
        memcpy(at + name + 1, change.pVal, value);
        at[name + 1 + value] = 0;
        at[name + 2 + value] = 0;
        listEnd += static_cast<long>(name + value + 2);
        *pChanged = true;
    }
    return 0;
}

void UenvBlock_Seal(uint8_t *pBlock, size_t size) {
    tarn::StoreLe32(pBlock, Crc_Crc32Ieee(pBlock + kCrcSize, size - kCrcSize));
}

int Uenv_Create(Uenv **ppUenv) {
    TARN_ASSERT(ppUenv);
    auto *uenv = new (std::nothrow) Uenv{Set, Get, Add, Del, Pri, Batch};
    if (uenv == nullptr) {
        TARN_ERR("malloc fail.\n");
        return -1;
    }
    *ppUenv = uenv;
    return 0;
}

void Uenv_Delete(Uenv **ppUenv) {
    TARN_ASSERT(ppUenv);
    delete *ppUenv;
    *ppUenv = nullptr;
}
