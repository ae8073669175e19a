// The MAVLink receive service's routing over any bytes a line may carry: every good frame lands in the any
// ring and in its device's group (oldest first, the newest 32 or 128 kept), each message lost to a full group
// is warned about with its dump, and an invalid device id is warned about and kept only in the ring.
//
// The service runs on a port of this file's own (these definitions stand in for the serial module's): its
// receive thread reads nothing, and the bytes go to Mav_ParseMsg as the thread would hand them over.
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "mav.h"
#include "tarn_time.h"
#include "tarn_uart.h"

namespace {

int IdleRead(Uart *, void *, uint32_t, uint32_t timeout) {
    Time_SleepUs(static_cast<uint64_t>(timeout) * 1000);
    return 0;
}

int AcceptWrite(Uart *, const void *, uint32_t length) {
    return static_cast<int>(length);
}

Uart gPort = {nullptr, nullptr, IdleRead, AcceptWrite};

constexpr size_t kGroupSize = 32;
constexpr size_t kAnySize = 128;

// The bytes as a second parser, fed the same stream, finds them: frames carry over from one input to the next.
MavlinkChannels gReference{};

uint32_t DeviceOf(const MavlinkMessage &message) {
    const size_t offset = message.messageId == 219 ? 0 : 4;
    if (message.messageId != 200 && message.messageId != 218 && message.messageId != 219) {
        return 0;
    }
    return offset < message.length ? message.payload[offset] : 0;
}

bool SameFrame(const MavlinkMessage &taken, const MavlinkMessage &expected) {
    if (taken.start != 0xFE || taken.length != expected.length || taken.checksum != expected.checksum ||
        memcmp(&taken.sequence, &expected.sequence, 4) != 0 ||
        memcmp(taken.payload, expected.payload, expected.length) != 0) {
        return false;
    }
    for (size_t index = expected.length + 2u; index < sizeof taken.payload; ++index) {
        if (taken.payload[index] != 0) {
            return false;
        }
    }
    return true;
}

std::string Dump(const MavlinkMessage &message) {
    std::string text;
    char piece[8];
    const uint8_t head[] = {
        0xFE, message.length, message.sequence, message.systemId, message.componentId, message.messageId};
    for (uint8_t byte : head) {
        snprintf(piece, sizeof piece, "0x%02x ", byte);
        text += piece;
    }
    for (size_t index = 0; index < message.length; ++index) {
        snprintf(piece, sizeof piece, "0x%02x ", message.payload[index]);
        text += piece;
    }
    snprintf(piece, sizeof piece, "0x%02x ", message.checksum & 0xFF);
    text += piece;
    snprintf(piece, sizeof piece, "0x%02x\n", message.checksum >> 8);
    return text + piece;
}

size_t Count(const std::string &text, const std::string &needle) {
    size_t count = 0;
    for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) {
        ++count;
    }
    return count;
}

// Takes everything a group holds and checks it is the newest frames routed there, oldest first.
void CheckTakes(uint32_t (*take)(MavlinkMessage *), const std::vector<MavlinkMessage> &routed, size_t size) {
    const size_t kept = routed.size() < size ? routed.size() : size;
    for (size_t index = routed.size() - kept; index < routed.size(); ++index) {
        MavlinkMessage taken{};
        FUZZ_CHECK(take(&taken) == 1);
        FUZZ_CHECK(SameFrame(taken, routed[index]));
    }
    MavlinkMessage none{};
    FUZZ_CHECK(take(&none) == 0);
}

void Drain() {
    MavlinkMessage message{};
    for (auto take : {Mav_GetFmuMsg, Mav_GetImuMsg, Mav_GetFlowMsg, Mav_GetBmsMsg, Mav_GetAnyMsg}) {
        while (take(&message) == 1) {
        }
    }
}

} // namespace

int Uart_Create(Uart **ppUart, const UartParam *) {
    *ppUart = &gPort;
    return 0;
}
void Uart_Delete(Uart **ppUart) {
    *ppUart = nullptr;
}
int Uart_Read(Uart *, void *, uint32_t) {
    return -1;
}
int Uart_ReadTimeout(Uart *pUart, void *buf, uint32_t len, uint32_t timeout) {
    return IdleRead(pUart, buf, len, timeout);
}
int Uart_Write(Uart *pUart, const void *buf, uint32_t len) {
    return AcceptWrite(pUart, buf, len);
}

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    fuzz::CatchConsole();
    FUZZ_CHECK(Mav_Init() == 0);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    Drain();
    fuzz::ClearConsole();
    std::vector<MavlinkMessage> groups[4];
    std::vector<MavlinkMessage> any;
    size_t invalid = 0;
    for (size_t index = 0; index < size; ++index) {
        MavlinkMessage message{};
        MavlinkStatus status{};
        if (Mavlink_ParseChar(&gReference, 0, data[index], &message, &status) != 1) {
            continue;
        }
        any.push_back(message);
        const uint32_t device = DeviceOf(message);
        if (device < 4) {
            groups[device].push_back(message);
        } else {
            ++invalid;
        }
    }
    Mav_ParseMsg(data, static_cast<uint32_t>(size));

    const std::string &console = fuzz::ConsoleText();
    FUZZ_CHECK(Count(console, "invalid device id: ") == invalid);
    const char *const overlays[4] = {
        "overlay fmu msg: ", "overlay imu msg: ", "overlay flow msg: ", "overlay bms msg: "};
    for (size_t device = 0; device < 4; ++device) {
        const std::vector<MavlinkMessage> &routed = groups[device];
        const size_t lost = routed.size() > kGroupSize ? routed.size() - kGroupSize : 0;
        FUZZ_CHECK(Count(console, overlays[device]) == lost);
        for (size_t index = 0; index < lost; ++index) {
            FUZZ_CHECK(console.find(std::string(overlays[device]) + "\033[m" + Dump(routed[index])) !=
                       std::string::npos);
        }
    }
    CheckTakes(Mav_GetFmuMsg, groups[0], kGroupSize);
    CheckTakes(Mav_GetImuMsg, groups[1], kGroupSize);
    CheckTakes(Mav_GetFlowMsg, groups[2], kGroupSize);
    CheckTakes(Mav_GetBmsMsg, groups[3], kGroupSize);
    CheckTakes(Mav_GetAnyMsg, any, kAnySize);
    return 0;
}
