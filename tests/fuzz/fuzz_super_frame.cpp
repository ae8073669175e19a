// The 0x55AA reply rules over any bytes a line may carry: a reply is accepted only when it is a good frame of
// the link's device (sync, length, CRC) and not a NACK, whichever frame CRC the device uses.
#include <cstdio>

#include "tarn_byte_order.h"
#include "tarn_upgrade_nimbo_super_frame.h"

namespace {

#define FRAME_CHECK(expression) ((expression) ? (void)0 : __builtin_trap())

void Check(SuperLink link, const uint8_t *data, size_t size) {
    if (!SuperFrame_Feed(&link, data, size)) {
        return;
    }
    const uint8_t *frame = link.reply + kSuperCarrierFrameOffset;
    FRAME_CHECK(link.reply[4] == link.deviceId && frame[3] == link.deviceId);
    FRAME_CHECK(frame[0] == 0x55 && frame[1] == 0xAA && frame[5] <= kSuperMaxData);
    FRAME_CHECK(link.crc(frame, 6u + frame[5]) == tarn::LoadLe16(frame + kSuperFrameCrcOffset));
    FRAME_CHECK(!(frame[5] == 1 && frame[6] == kSuperNack));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    // The rules print a line per dropped message; the fuzzer wants none of them.
    static FILE *quiet = freopen("/dev/null", "w", stdout);
    (void)quiet;
    Check(SuperLink{3, SuperFrame_CrcCcitt, 0, 10, nullptr, 0, {}, {}}, data, size);
    Check(SuperLink{6, SuperFrame_CrcWords, 0, 5, nullptr, 0, {}, {}}, data, size);
    return 0;
}
