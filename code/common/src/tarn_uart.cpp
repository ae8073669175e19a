#include "tarn_uart.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <new>
#include <poll.h>
#include <unistd.h>

#include "tarn_console.h"
#include "tarn_fdio.h"
#include "tarn_time.h"
#include "tarn_unique_fd.h"

struct UartPrivate {
    Uart object;
    // Fixed at creation.
    UniqueFd fd;
    int32_t port = 0;
    int32_t baudrate = 0;
};

namespace {

// Uart_Read waits in slices of this length, without an overall limit.
constexpr int kReadSliceMs = 5000;
constexpr uint64_t kQuietLinePauseUs = 50000;

// Waits until the port is readable: 1, 0 when the time passed, -1 on failure. poll rather than select, so a
// descriptor number above FD_SETSIZE can never write past an fd_set.
int WaitReadable(int fd, int timeoutMs) {
    pollfd request{fd, POLLIN, 0};
    const int ready = poll(&request, 1, timeoutMs);
    return ready > 0 ? 1 : ready;
}

int Uart_Init(UartPrivate &uart, const UartParam &param) {
    uart.port = param.port;
    uart.baudrate = param.baudrate;
    char path[32];
    snprintf(path, sizeof path, "/dev/ttyS%d", static_cast<int>(param.port));

    int fd = -1;
    const FdioResult opened = Fdio_OpenSerial(path, param.baudrate, &fd);
    if (opened.status == FdioStatus::Ok) {
        uart.fd = UniqueFd(fd);
        return 0;
    }
    // Two steps, and a line that another process holds, have lines of their own; the others are failed calls.
    if (strcmp(opened.failedCall, "tcgetattr") == 0) {
        TARN_ERR("tcgetattr");
    } else if (strcmp(opened.failedCall, "cfsetspeed") == 0) {
        TARN_ERR("unsupport baudrate=%d.\n", static_cast<int>(param.baudrate));
    } else {
        FDIO_REPORT_OPEN(opened, path);
    }
    return -1;
}

} // namespace

int Uart_Create(Uart **ppUart, const UartParam *pParam) {
    TARN_ASSERT(ppUart);
    TARN_ASSERT(pParam);
    auto *uart = new (std::nothrow) UartPrivate{};
    if (uart == nullptr) {
        TARN_ERR("malloc fail.\n");
        return -1;
    }
    uart->object = {uart, Uart_Read, Uart_ReadTimeout, Uart_Write};
    if (Uart_Init(*uart, *pParam) != 0) {
        TARN_ERR("uart init fail.\n");
        delete uart;
        return -1;
    }
    *ppUart = &uart->object;
    return 0;
}

void Uart_Delete(Uart **ppUart) {
    TARN_ASSERT(ppUart);
    if (*ppUart != nullptr) {
        delete (*ppUart)->pPrivate;
        *ppUart = nullptr;
    }
}

int Uart_Read(Uart *pUart, void *buf, uint32_t len) {
    const int fd = pUart->pPrivate->fd.Get();
    auto *cursor = static_cast<uint8_t *>(buf);
    uint32_t remaining = len;
    while (remaining > 0) {
        const int ready = WaitReadable(fd, kReadSliceMs);
        if (ready < 0) {
            TARN_SYSERR("select");
            return -1;
        }
        if (ready == 0) {
            Time_SleepUs(kQuietLinePauseUs);
            continue;
        }
        const ssize_t count = read(fd, cursor, remaining);
        if (count < 0) {
            TARN_SYSERR("read");
            return -1;
        }
        if (count == 0) {
            // End of file on a readable line: treat it as a quiet line rather than spin on it.
            Time_SleepUs(kQuietLinePauseUs);
            continue;
        }
        cursor += count;
        remaining -= static_cast<uint32_t>(count);
    }
    return static_cast<int>(len);
}

int Uart_ReadTimeout(Uart *pUart, void *buf, uint32_t len, uint32_t timeout) {
    if (len == 0) {
        return 0;
    }
    const int fd = pUart->pPrivate->fd.Get();
    // poll takes a signed count of milliseconds; longer waits than 24 days are not asked for.
    const int ready = WaitReadable(fd, static_cast<int>(std::min<uint32_t>(timeout, INT32_MAX)));
    if (ready <= 0) {
        return ready;
    }
    const ssize_t count = read(fd, buf, len);
    if (count < 0) {
        TARN_SYSERR("read");
        return -1;
    }
    if (count == 0) {
        // End of file on a readable port: the line hung up and stays readable. Waiting out the time-out keeps
        // every receive loop at its usual pace instead of spinning on it.
        Time_SleepUs(static_cast<uint64_t>(timeout) * 1000u);
    }
    return static_cast<int>(count);
}

int Uart_Write(Uart *pUart, const void *buf, uint32_t len) {
    const FdioResult written = Fdio_WriteAll(pUart->pPrivate->fd.Get(), buf, len);
    if (written.status != FdioStatus::Ok) {
        FDIO_REPORT(written);
        return -1;
    }
    return static_cast<int>(len);
}
