#include "tarn_fdio.h"

#include <algorithm>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <termios.h>
#include <unistd.h>

#include "tarn_time.h"

namespace {

constexpr FdioResult kOk = {FdioStatus::Ok, nullptr, 0};

FdioResult Failure(const char *call) {
    return {FdioStatus::Failed, call, errno};
}

bool LineSpeed(int baudrate, speed_t *speed) {
    switch (baudrate) {
        case 4800:
            *speed = B4800;
            return true;
        case 9600:
            *speed = B9600;
            return true;
        case 19200:
            *speed = B19200;
            return true;
        case 115200:
            *speed = B115200;
            return true;
        default:
            return false;
    }
}

} // namespace

FdioResult Fdio_ConfigureSerial(int fd, int baudrate) {
    termios options{};
    if (tcgetattr(fd, &options) != 0) {
        return Failure("tcgetattr");
    }
    speed_t speed = B0;
    if (!LineSpeed(baudrate, &speed)) {
        errno = EINVAL;
        return Failure("cfsetspeed");
    }
    cfsetispeed(&options, speed);
    cfsetospeed(&options, speed);
    options.c_cflag &= ~static_cast<tcflag_t>(PARENB | CSTOPB | CSIZE | CRTSCTS);
    options.c_cflag |= CS8 | CLOCAL | CREAD;
    options.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | ECHOE | ISIG);
    options.c_iflag = 0;
    options.c_oflag = 0;
    // Set rather than inherited, so the one read after a readable wait always returns what is there.
    options.c_cc[VMIN] = 1;
    options.c_cc[VTIME] = 0;
    tcflush(fd, TCIFLUSH);
    if (tcsetattr(fd, TCSANOW, &options) != 0) {
        return Failure("tcsetattr");
    }
    return kOk;
}

FdioResult Fdio_OpenSerial(const char *device, int baudrate, int *fd) {
    // Non-blocking only for the open itself, so a line without carrier cannot hold it. Close-on-exec, so the
    // programs a tool runs (killall) never carry the line or its lock.
    const int opened = open(device, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (opened < 0) {
        return Failure("open");
    }
    FdioResult result = kOk;
    // One process per line: two talkers would split each other's replies. Taken before the settings, so a
    // refused open leaves the holder's line as it was. A line opened exclusively elsewhere fails the open
    // itself with EBUSY; both read as "in use".
    if (flock(opened, LOCK_EX | LOCK_NB) != 0) {
        result = Failure("flock");
        if (result.error == EWOULDBLOCK) {
            result.error = EBUSY;
        }
    } else if (fcntl(opened, F_SETFL, 0) != 0) {
        result = Failure("fcntl");
    } else {
        result = Fdio_ConfigureSerial(opened, baudrate);
    }
    if (result.status != FdioStatus::Ok) {
        close(opened);
        return result;
    }
    *fd = opened;
    return kOk;
}

FdioResult Fdio_ReadExact(int fd, void *buffer, size_t count, uint32_t waitMs) {
    auto *cursor = static_cast<uint8_t *>(buffer);
    size_t remaining = count;
    while (remaining > 0) {
        // The wait starts afresh for every piece; an end of file does not re-arm it.
        const uint32_t waitStart = Time_GetMs();
        for (;;) {
            const uint32_t elapsed = Time_GetMs() - waitStart;
            const bool over = elapsed >= waitMs;
            // poll rather than select: a descriptor above FD_SETSIZE cannot overrun a set. It looks once even
            // when the wait is over (the clock may tick between two readings): bytes already there are read.
            pollfd request{fd, POLLIN, 0};
            const int ready = poll(&request, 1, over ? 0 : static_cast<int>(waitMs - elapsed));
            if (ready < 0 && errno == EINTR) {
                continue;
            }
            if (ready < 0) {
                return Failure("select");
            }
            if (ready == 0) {
                return {FdioStatus::TimedOut, nullptr, 0};
            }
            const ssize_t got = read(fd, cursor, remaining);
            if (got < 0 && errno == EINTR) {
                continue;
            }
            if (got < 0) {
                return Failure("read");
            }
            if (got > 0) {
                cursor += got;
                remaining -= static_cast<size_t>(got);
                break;
            }
            // End of file: nothing will come before the wait is over, but do not spin on it (nor sleep past it).
            if (over) {
                return {FdioStatus::TimedOut, nullptr, 0};
            }
            Time_SleepUs(std::min<uint64_t>(10000, static_cast<uint64_t>(waitMs - elapsed) * 1000));
        }
    }
    return kOk;
}

FdioResult Fdio_WriteAll(int fd, const void *buffer, size_t count) {
    const auto *cursor = static_cast<const uint8_t *>(buffer);
    size_t remaining = count;
    while (remaining > 0) {
        const ssize_t written = write(fd, cursor, remaining);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written < 0) {
            return Failure("write");
        }
        cursor += written;
        remaining -= static_cast<size_t>(written);
    }
    return kOk;
}

bool Fdio_DrainUntilSilent(int (*receive)(uint8_t *buffer, uint32_t count), uint32_t limitMs) {
    const uint32_t start = Time_GetMs();
    uint8_t discarded = 0;
    while (receive(&discarded, 1) == 0) {
        if (Time_GetMs() - start >= limitMs) {
            return true;
        }
    }
    return false;
}
