// upgrade_fmu_super's test of an upgrade file's header over any file content: a file passes only with the
// identity, type 1, a whole header and an image length at most 15 bytes short of the body, and the test never
// reads past the buffer the tool loads the file into (whole 60-byte blocks, one more than the file fills,
// padded with 0xFF).
#include <cstring>
#include <memory>

#include "fuzz_support.h"
#include "tarn_byte_order.h"
#include "tarn_upgrade_nimbo_super_fmu.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    fuzz::CatchConsole();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    fuzz::ClearConsole();
    const size_t length = (size / 60 + 1) * 60;
    std::unique_ptr<uint8_t[]> buffer(new uint8_t[length]);
    memset(buffer.get(), 0xFF, length);
    memcpy(buffer.get(), data, size);
    const uint32_t fileSize = static_cast<uint32_t>(size);
    const int result = FmuSuper_CheckHeader(size == 0 ? nullptr : buffer.get(), size == 0 ? 0 : length, fileSize);
    if (result == 0) {
        FUZZ_CHECK(size >= 256 && memcmp(data, "OrvoxPelicarnSmartSystem", 24) == 0);
        const uint32_t body = fileSize - 256u;
        FUZZ_CHECK(tarn::LoadBe32(data + 24) <= body && body - tarn::LoadBe32(data + 24) <= 15u);
        FUZZ_CHECK(tarn::LoadBe16(data + 28) == 1);
        FUZZ_CHECK(fuzz::ConsoleText().empty());
    } else {
        FUZZ_CHECK(result == -1);
    }
    return 0;
}
