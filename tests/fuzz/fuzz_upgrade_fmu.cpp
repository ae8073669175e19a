// The flight controller bootloader's replies, as upgrade_fmu reads them. The tool's line is one end of a socket
// pair; the harness plays the bootloader on the other. Each round takes one byte that picks the operation (reply
// pair, device information, verification), then that operation's reply bytes as the bootloader would send them.
// A round runs only when its longest reply is all there: a missing reply is a three-second time-out, which the
// upgrade tests cover.
//
// Each operation sends exactly its command bytes, reads exactly its reply, accepts a reply pair only when it is
// in sync and OK, hands back the little-endian value it read, and warns of a CRC mismatch exactly when the CRC
// differs from the one of the (empty) image followed by the erased flash the bootloader reported.
#include <cstring>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

#include "fuzz_support.h"
#include "tarn_upgrade_fmu.h"

namespace {

constexpr uint8_t kInSync = 0x12;
constexpr uint8_t kOk = 0x10;
constexpr uint32_t kCheckedRevision = 4;
// The CRC over a larger erased area costs only time; the harness keeps the reported flash size below this.
constexpr uint32_t kFlashSizeLimit = 0x1000;

int gTool = -1;       // the tool's end of the line
int gBootloader = -1; // the harness's end

using Bytes = std::vector<uint8_t>;

void Reply(const uint8_t *bytes, size_t count) {
    FUZZ_CHECK(write(gBootloader, bytes, count) == static_cast<ssize_t>(count));
}

// What the tool sent since the last call.
Bytes Sent() {
    Bytes sent;
    int pending = 0;
    FUZZ_CHECK(ioctl(gBootloader, FIONREAD, &pending) == 0);
    sent.resize(static_cast<size_t>(pending));
    if (pending > 0) {
        FUZZ_CHECK(read(gBootloader, sent.data(), sent.size()) == pending);
    }
    return sent;
}

// Reply bytes the tool has not read.
int Unread() {
    int pending = 0;
    FUZZ_CHECK(ioctl(gTool, FIONREAD, &pending) == 0);
    return pending;
}

uint32_t Le32(const uint8_t *bytes) {
    return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
           static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

bool InSync(const uint8_t *pair) {
    return pair[0] == kInSync && pair[1] == kOk;
}

// The bootloader's CRC (reflected 0xEDB88320, no inversion, from 0) of n erased bytes, at index n; computed bit
// by bit once.
const std::vector<uint32_t> &ErasedCrcs() {
    static const std::vector<uint32_t> crcs = [] {
        std::vector<uint32_t> table(kFlashSizeLimit);
        uint32_t crc = 0;
        for (uint32_t count = 0; count < kFlashSizeLimit; ++count) {
            table[count] = crc;
            crc ^= 0xFF;
            for (int bit = 0; bit < 8; ++bit) {
                crc = (crc & 1) != 0 ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
            }
        }
        return table;
    }();
    return crcs;
}

void GetSyncRound(const uint8_t *reply) {
    Reply(reply, 2);
    FUZZ_CHECK((Fmu_GetSync() == 0) == InSync(reply));
    FUZZ_CHECK(Sent().empty() && Unread() == 0);
}

void GetInfoRound(uint8_t parameter, const uint8_t *reply) {
    Reply(reply, 6);
    uint32_t value = 0;
    const int result = Fmu_GetInfo(parameter, &value);
    FUZZ_CHECK((result == 0) == InSync(reply + 4));
    FUZZ_CHECK(value == Le32(reply));
    FUZZ_CHECK(Sent() == (Bytes{0x22, parameter, 0x20}));
    FUZZ_CHECK(Unread() == 0);
}

// reply: revision and its pair, flash size and its pair, CRC (16 bytes). The flash size is cut below the limit.
void VerifyRound(const uint8_t *given) {
    uint8_t reply[16];
    memcpy(reply, given, sizeof(reply));
    const uint32_t flashSize = Le32(reply + 6) % kFlashSizeLimit;
    reply[6] = static_cast<uint8_t>(flashSize);
    reply[7] = static_cast<uint8_t>(flashSize >> 8);
    reply[8] = reply[9] = 0;

    const bool revisionRead = InSync(reply + 4);
    const bool checked = revisionRead && Le32(reply) == kCheckedRevision;
    const bool sizeRead = checked && InSync(reply + 10);
    const size_t consumed = !checked ? 6 : !sizeRead ? 12 : 16;
    Reply(reply, consumed);

    const int result = Fmu_Verify();
    Bytes expected = {0x22, 0x01, 0x20};
    if (checked) {
        expected.insert(expected.end(), {0x22, 0x04, 0x20});
    }
    if (sizeRead) {
        expected.insert(expected.end(), {0x29, 0x20});
    }
    FUZZ_CHECK(Sent() == expected);
    FUZZ_CHECK(Unread() == 0);
    if (!revisionRead || (checked && !sizeRead)) {
        FUZZ_CHECK(result != 0);
    }
    if (!checked) {
        FUZZ_CHECK(result == 0 || !revisionRead);
    }
    const bool mismatch = sizeRead && Le32(reply + 12) != ErasedCrcs()[flashSize];
    FUZZ_CHECK(fuzz::ConsoleHas("CRC wrong") == mismatch);
    if (sizeRead && !mismatch) {
        FUZZ_CHECK(result == 0);
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    fuzz::CatchConsole();
    int ends[2];
    if (socketpair(AF_UNIX, SOCK_STREAM, 0, ends) != 0) {
        fuzz::CheckFailed(__FILE__, __LINE__, "socketpair");
    }
    gTool = ends[0];
    gBootloader = ends[1];
    Fmu_SetLine(gTool);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    fuzz::Input input(data, size);
    while (input.Left() > 0) {
        fuzz::ClearConsole();
        const uint8_t round = input.Byte();
        size_t taken = 0;
        switch (round % 3) {
            case 0: {
                const uint8_t *reply = input.Take(2, &taken);
                if (taken == 2) {
                    GetSyncRound(reply);
                }
                break;
            }
            case 1: {
                const uint8_t *reply = input.Take(6, &taken);
                if (taken == 6) {
                    GetInfoRound(static_cast<uint8_t>(round / 3), reply);
                }
                break;
            }
            default: {
                const uint8_t *reply = input.Take(16, &taken);
                if (taken == 16) {
                    VerifyRound(reply);
                }
                break;
            }
        }
    }
    return 0;
}
