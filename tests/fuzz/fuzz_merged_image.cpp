// Merged release image heads over any bytes: the walk never reads outside the image, and every component it
// accepts has a known name, a size inside the image and the CRC its head claims.
#include <cstring>
#include <memory>

#include "tarn_crc.h"
#include "tarn_merged_image.h"

#define MERGED_CHECK(expression) ((expression) ? (void)0 : __builtin_trap())

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    // Exactly as long as the input, so that reading past it is caught.
    std::unique_ptr<uint8_t[]> image(new uint8_t[size > 0 ? size : 1]);
    memcpy(image.get(), data, size);

    MergedComponent components[kMergedComponentCount];
    const MergedWalk walk = Merged_Walk(image.get(), size, components, kMergedComponentCount);
    MERGED_CHECK(walk.count >= 0 && walk.count <= kMergedComponentCount);
    for (int index = 0; index < walk.count; ++index) {
        const MergedComponent &component = components[index];
        MERGED_CHECK(Merged_TypeName(component.head.type) != nullptr);
        MERGED_CHECK(strcmp(component.head.name, Merged_TypeName(component.head.type)) == 0);
        MERGED_CHECK(component.head.size > 0 && component.offset <= size &&
                     component.head.size <= size - component.offset);
        MERGED_CHECK(Crc_Crc32Raw(image.get() + component.offset, component.head.size) == component.head.crc);
    }
    MERGED_CHECK(walk.status != MergedStatus::Ok || walk.offset == size);
    MERGED_CHECK(strlen(walk.head.name) <= kMergedNameSize);

    if (size >= kMergedHeadSize) {
        MergedHead head;
        const MergedStatus status = Merged_ParseHead(image.get(), size - kMergedHeadSize, &head);
        MERGED_CHECK(status != MergedStatus::Ok || (head.type >= 0 && head.size <= size - kMergedHeadSize));
    }
    return 0;
}
