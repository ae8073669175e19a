#include "tarn_merged_image.h"

#include <cstring>

#include "tarn_byte_order.h"
#include "tarn_crc.h"

namespace {

constexpr const char *kTypeNames[kMergedComponentCount] = {"uboot", "kernel", "rootfs", "appfs"};
constexpr size_t kSizeField = 16;
constexpr size_t kCrcField = 20;

} // namespace

const char *Merged_TypeName(int type) {
    return type >= 0 && type < kMergedComponentCount ? kTypeNames[type] : nullptr;
}

void Merged_PackHead(int type, uint32_t size, uint32_t crc, uint8_t (&head)[kMergedHeadSize]) {
    memset(head, 0, sizeof head);
    const char *name = Merged_TypeName(type);
    memcpy(head, name, strlen(name));
    tarn::StoreLe32(head + kSizeField, size);
    tarn::StoreLe32(head + kCrcField, crc);
}

MergedStatus Merged_ParseHead(const uint8_t *pBytes, uint64_t bytesAfter, MergedHead *pHead) {
    memcpy(pHead->name, pBytes, kMergedNameSize);
    pHead->name[kMergedNameSize] = '\0';
    pHead->size = tarn::LoadLe32(pBytes + kSizeField);
    pHead->crc = tarn::LoadLe32(pBytes + kCrcField);
    pHead->type = -1;
    if (memchr(pBytes, 0, kMergedNameSize) == nullptr) {
        return MergedStatus::BadName;
    }
    for (int type = 0; type < kMergedComponentCount; ++type) {
        if (strcmp(pHead->name, kTypeNames[type]) == 0) {
            pHead->type = type;
        }
    }
    if (pHead->type < 0) {
        return MergedStatus::BadName;
    }
    if (pHead->size == 0) {
        return MergedStatus::ZeroSize;
    }
    return pHead->size > bytesAfter ? MergedStatus::PastEnd : MergedStatus::Ok;
}

MergedWalk Merged_Walk(const uint8_t *pImage, size_t size, MergedComponent *pComponents, int capacity) {
    MergedWalk walk{MergedStatus::Ok, 0, 0, {}, 0};
    while (walk.offset < size) {
        if (size - walk.offset < kMergedHeadSize) {
            walk.status = MergedStatus::ShortHead;
            return walk;
        }
        const size_t bytes = walk.offset + kMergedHeadSize;
        walk.status = Merged_ParseHead(pImage + walk.offset, size - bytes, &walk.head);
        if (walk.status != MergedStatus::Ok) {
            return walk;
        }
        walk.computedCrc = Crc_Crc32Raw(pImage + bytes, walk.head.size);
        if (walk.computedCrc != walk.head.crc) {
            walk.status = MergedStatus::CrcMismatch;
            return walk;
        }
        if (walk.count == capacity) {
            walk.status = MergedStatus::TooMany;
            return walk;
        }
        pComponents[walk.count++] = {walk.head, bytes};
        walk.offset = bytes + walk.head.size;
    }
    return walk;
}
