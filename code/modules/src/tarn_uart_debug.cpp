// uart_debug: sends bytes given on the command line to a serial port, or prints what arrives in hex groups.
#include "tarn_uart_debug.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <getopt.h>

#include "tarn_commands.h"
#include "tarn_console.h"
#include "tarn_uart.h"

namespace {

constexpr const char kOptions[] = "p:b:s:rh";
constexpr size_t kSendBuffer = 512;
constexpr size_t kRecvBuffer = 1024;
constexpr uint32_t kPauseMs = 100;

void Usage() {
    printf("usage: \n"
           "| \n"
           "-- -p, set port number, default is 1 \n"
           "-- -b, set baudrate, default is 115200 \n"
           "-- -s, send data \n"
           "-- -r, read data \n"
           "-- -h, this usage \n"
           "eg: uart_debug -p [port] -b [baudrate] -r \n"
           "    uart_debug -p [port] -b [baudrate] -s [data]\n"
           "    uart_debug -h \n");
    fflush(stdout);
}

// A group of bytes is plain output: an optional lead, the UTC time of day, the bytes, a newline.
void PrintGroup(const char *lead, const uint8_t *bytes, size_t count) {
    const time_t now = time(nullptr);
    struct tm utc = {};
    gmtime_r(&now, &utc);
    printf("%s[%d:%d:%d] ", lead, utc.tm_hour, utc.tm_min, utc.tm_sec);
    for (size_t index = 0; index < count; ++index) {
        printf("0x%02x ", bytes[index]);
    }
    printf("\n");
    fflush(stdout);
}

int Send(const UartParam &param, const char *text) {
    uint8_t bytes[kSendBuffer];
    const char *bad = nullptr;
    size_t badLength = 0;
    const int count = UartDebug_ParseBytes(text, bytes, sizeof(bytes), &bad, &badLength);
    if (count < 0) {
        TARN_ERR("invalid data: %.*s.\n", static_cast<int>(badLength), bad);
        return -1;
    }
    Uart *pUart = nullptr;
    if (Uart_Create(&pUart, &param) != 0) {
        TARN_ERR("uart create fail.\n");
        return -1;
    }
    int result = 0;
    if (count > 0 && pUart->Write(pUart, bytes, static_cast<uint32_t>(count)) != count) {
        TARN_ERR("uart write fail.\n");
        result = -1;
    }
    Uart_Delete(&pUart);
    return result;
}

int Recv(const UartParam &param) {
    Uart *pUart = nullptr;
    if (Uart_Create(&pUart, &param) != 0) {
        TARN_ERR("uart create fail.\n");
        return -1;
    }
    uint8_t buffer[kRecvBuffer];
    size_t held = 0;
    for (;;) {
        // Up to the room left: the same groups as byte by byte, at a fraction of the calls.
        const int got =
            pUart->ReadTimeout(pUart, buffer + held, static_cast<uint32_t>(sizeof(buffer) - held), kPauseMs);
        if (got < 0) {
            TARN_ERR("uart read fail.\n");
            break;
        }
        if (got > 0) {
            held += static_cast<size_t>(got);
            if (held == sizeof(buffer)) {
                PrintGroup("\r\n", buffer, held);
                held = 0;
            }
        } else if (held > 0) {
            PrintGroup("", buffer, held);
            held = 0;
        }
    }
    Uart_Delete(&pUart);
    return -1;
}

} // namespace

int UartDebug_ParseBytes(const char *text, uint8_t *bytes, size_t room, const char **pBad, size_t *pBadLength) {
    size_t count = 0;
    const char *at = text;
    while (*at != '\0' && count < room) {
        if (*at == ' ') {
            ++at;
            continue;
        }
        const size_t length = strcspn(at, " ");
        // The piece must be a number in full: strtoul stops at the first character it cannot use.
        char piece[32];
        char *end = nullptr;
        unsigned long value = 0;
        bool valid = length < sizeof(piece) && at[0] != '-' && at[0] != '+';
        if (valid) {
            memcpy(piece, at, length);
            piece[length] = '\0';
            errno = 0;
            value = strtoul(piece, &end, 0);
            valid = end == piece + length && errno == 0;
        }
        if (!valid) {
            *pBad = at;
            *pBadLength = length;
            return -1;
        }
        bytes[count++] = static_cast<uint8_t>(value & 0xFF);
        at += length;
    }
    return static_cast<int>(count);
}

int Main_UartDebug(int argc, char *argv[]) {
    if (argc < 2) {
        Usage();
        return 0;
    }
    UartParam param = {1, 115200};
    optind = 1;
    opterr = 1;
    for (int option = getopt(argc, argv, kOptions); option != -1; option = getopt(argc, argv, kOptions)) {
        switch (option) {
            case 'p':
                param.port = static_cast<int32_t>(strtol(optarg, nullptr, 10));
                break;
            case 'b':
                param.baudrate = static_cast<int32_t>(strtol(optarg, nullptr, 10));
                break;
            case 's':
                Send(param, optarg);
                break;
            case 'r':
                Recv(param);
                break;
            case 'h':
                Usage();
                return 0;
            default:
                break;
        }
    }
    return 0;
}
