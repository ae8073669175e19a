// The second-generation flight controller bootloader's answers, as upgrade_fmu_super reads them. The first
// byte picks the reader: packets one after another until the input ends, the erase answer, or the finish
// answer; the rest is what the line carries, released when the tool has written its request (so the drain and
// the discard before a request find nothing). An accepted packet starts with 0x02, carries at most 512 data
// bytes and both its CRCs match; an accepted erase answer names a whole number of 512-byte fragments up to 2048.
#include <cstring>

#include "fuzz_support.h"
#include "tarn_byte_order.h"
#include "tarn_crc.h"
#include "tarn_upgrade_nimbo_super_fmu.h"

namespace {

const uint8_t *g_line = nullptr;
size_t g_left = 0;
bool g_released = false;

int LineRead(Uart *, void *buffer, uint32_t length, uint32_t) {
    if (!g_released) {
        return 0;
    }
    const size_t count = length < g_left ? length : g_left;
    memcpy(buffer, g_line, count);
    g_line += count;
    g_left -= count;
    return static_cast<int>(count);
}

int LineWrite(Uart *, const void *, uint32_t length) {
    g_released = true;
    return static_cast<int>(length);
}

Uart g_port = {nullptr, nullptr, LineRead, LineWrite};

uint8_t g_buffer[kFmuSuperRecvBuffer];

void ReadPackets() {
    g_released = true;
    while (g_left > 0) {
        const int length = crc16RecvPacket(g_buffer, 0);
        if (length < 0) {
            continue;
        }
        FUZZ_CHECK(length <= static_cast<int>(kFmuSuperRecvLimit));
        FUZZ_CHECK(g_buffer[0] == kFmuSuperPacketStart && tarn::LoadBe16(g_buffer + 3) == length);
        FUZZ_CHECK(Crc_Xmodem(g_buffer + 1, 4) == tarn::LoadBe16(g_buffer + 5));
        if (length > 0) {
            FUZZ_CHECK(Crc_Xmodem(g_buffer + kFmuSuperPacketHeader, static_cast<size_t>(length)) ==
                       tarn::LoadBe16(g_buffer + kFmuSuperRecvDataCrcAt));
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    fuzz::CatchConsole();
    FmuSuper_SetPort(&g_port);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    fuzz::ClearConsole();
    fuzz::Input input(data, size);
    const uint8_t reader = input.Byte() % 3;
    g_line = input.Rest();
    g_left = input.Left();
    g_released = false;
    if (reader == 0) {
        ReadPackets();
    } else if (reader == 1) {
        if (fmu_erase() == 0) {
            const uint16_t fragment = FmuSuper_FragmentLength();
            FUZZ_CHECK(fragment >= 512 && fragment <= 2048 && fragment % 512 == 0);
        }
    } else if (fmu_verify() == 0) {
        FUZZ_CHECK(fuzz::ConsoleText().find("error") == std::string::npos);
    }
    return 0;
}
