// The fake log driver behind /dev/dlog: the device file is a host file that a kernel-log source appends to.
// Every byte is handed out once across opens and processes: the read position lives in a cursor file that
// all readers share under flock, so a reopened /dev/dlog goes on where the last reader stopped. Requests are
// journaled with their argument as the driver's table types it (none, an integer, a text) and answered 0,
// or a chosen errno.
//
// Configuration lines:
//   dlog CURSOR              /dev/dlog is served; CURSOR is the host file holding the read position
//   dlog fail open ERRNO     opening /dev/dlog fails
//   dlog fail read ERRNO [N] reads fail (the first N of the process; all without N)
//   dlog fail NR ERRNO       request number NR fails
// Reads that find nothing new are not journaled.
// ERRNO is a number or a name such as EPERM.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "tarn_bench_fake_driver.h"

namespace tarn::bench::fake {

namespace {

constexpr int kMaxDescriptors = 16;
constexpr int kRequestCount = 0x20;
// Write-direction requests of type 'D' with a 4-byte argument: the base plus the request number.
constexpr unsigned long kRequestBase = 0x40044400;

enum class Argument { Unknown, None, Integer, Text };

// The driver's requests by number, with the form of their argument.
constexpr Argument ArgumentOf(unsigned number) {
    switch (number) {
        case 0x00:
        case 0x05:
        case 0x06:
            return Argument::None;
        case 0x01:
        case 0x02:
        case 0x07:
        case 0x09:
            return Argument::Integer;
        case 0x03:
        case 0x04:
        case 0x10:
        case 0x11:
            return Argument::Text;
        default:
            return Argument::Unknown;
    }
}

struct State {
    bool served = false;
    int cursorFd = -1;
    int failOpen = 0;
    int failRead = 0;
    long failReadCount = 0; // 0: every read
    long reads = 0;
    int failRequest[kRequestCount] = {};
    int descriptors[kMaxDescriptors];
    bool initialised = false;
};

State state;

void Initialise() {
    if (!state.initialised) {
        state.initialised = true;
        for (int &fd : state.descriptors) {
            fd = -1;
        }
    }
}

int ErrorNumber(const char *text) {
    if (text[0] >= '0' && text[0] <= '9') {
        return static_cast<int>(strtol(text, nullptr, 0));
    }
    for (int number = 1; number < 134; ++number) {
        const char *name = strerrorname_np(number);
        if (name != nullptr && strcmp(name, text) == 0) {
            return number;
        }
    }
    return EIO;
}

int *Slot(int fd) {
    for (int &slot : state.descriptors) {
        if (slot == fd) {
            return &slot;
        }
    }
    return nullptr;
}

// Runs request on a /dev/dlog descriptor under the lock; false for other descriptors.
template <typename Request> bool OnDlog(int fd, long long &result, Request request) {
    if (fd < 0) {
        return false;
    }
    pthread_mutex_lock(&driverLock);
    int *slot = state.initialised ? Slot(fd) : nullptr;
    if (slot != nullptr) {
        result = request(*slot);
    }
    pthread_mutex_unlock(&driverLock);
    return slot != nullptr;
}

// The bytes after the shared read position, which moves past them.
long long ReadNew(int fd, void *buffer, size_t count) {
    if (flock(state.cursorFd, LOCK_EX) != 0) {
        return -errno;
    }
    uint64_t position = 0;
    if (real.pread(state.cursorFd, &position, sizeof position, 0) != static_cast<ssize_t>(sizeof position)) {
        position = 0;
    }
    long long result = real.pread(fd, buffer, count, static_cast<off_t>(position));
    if (result < 0) {
        result = -errno;
    } else if (result > 0) {
        position += static_cast<uint64_t>(result);
        if (real.pwrite(state.cursorFd, &position, sizeof position, 0) != static_cast<ssize_t>(sizeof position)) {
            result = -EIO;
        }
    }
    flock(state.cursorFd, LOCK_UN);
    return result;
}

} // namespace

bool DlogConfigure(char *words[], int count) {
    if (strcmp(words[0], "dlog") != 0) {
        return false;
    }
    Initialise();
    if (count == 2) {
        state.served = true;
        state.cursorFd = real.open(words[1], O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    } else if (count >= 4 && strcmp(words[1], "fail") == 0) {
        const int error = ErrorNumber(words[3]);
        if (strcmp(words[2], "open") == 0) {
            state.failOpen = error;
        } else if (strcmp(words[2], "read") == 0) {
            state.failRead = error;
            state.failReadCount = count >= 5 ? strtol(words[4], nullptr, 0) : 0;
        } else {
            const unsigned long number = strtoul(words[2], nullptr, 0);
            if (number < kRequestCount) {
                state.failRequest[number] = error;
            }
        }
    }
    return true;
}

bool IsDlogPath(const char *path) {
    return path != nullptr && strcmp(path, "/dev/dlog") == 0;
}

int DlogOpen(int dirfd, const char *path, int flags, int mode) {
    Calls();
    pthread_mutex_lock(&driverLock);
    EnsureLoaded();
    if (!state.served) {
        pthread_mutex_unlock(&driverLock);
        return real.openat(dirfd, path, flags, mode);
    }
    Initialise();
    int *slot = Slot(-1);
    long long result = state.failOpen != 0 ? -state.failOpen : slot == nullptr ? -EMFILE : 0;
    if (result == 0) {
        // The log file itself is never created, truncated or appended to through the device.
        const int fd = real.openat(dirfd, path, (flags & ~(O_CREAT | O_TRUNC | O_APPEND | O_ACCMODE)) | O_RDONLY, 0);
        result = fd < 0 ? -errno : fd;
        if (fd >= 0) {
            *slot = fd;
        }
    }
    char outcome[64];
    Journal("open dlog %s = %s",
            (flags & O_ACCMODE) == O_RDONLY   ? "O_RDONLY"
            : (flags & O_ACCMODE) == O_WRONLY ? "O_WRONLY"
                                              : "O_RDWR",
            Outcome(result, outcome, sizeof outcome));
    pthread_mutex_unlock(&driverLock);
    if (result < 0) {
        errno = static_cast<int>(-result);
        return -1;
    }
    return static_cast<int>(result);
}

bool DlogRead(int fd, void *buffer, size_t count, long long &result) {
    return OnDlog(fd, result, [&](int) {
        ++state.reads;
        const bool fails = state.failRead != 0 && (state.failReadCount == 0 || state.reads <= state.failReadCount);
        const long long got = fails ? -state.failRead : ReadNew(fd, buffer, count);
        // An idle recorder polls ten times a second: empty reads would bury the journal.
        if (got != 0) {
            char outcome[64];
            Journal("read dlog %zu = %s", count, Outcome(got, outcome, sizeof outcome));
        }
        return got;
    });
}

bool DlogIoctl(int fd, unsigned long request, void *argument, long long &result) {
    return OnDlog(fd, result, [&](int) {
        const unsigned long number = request - kRequestBase;
        const Argument form = request >= kRequestBase && number < kRequestCount
                                  ? ArgumentOf(static_cast<unsigned>(number))
                                  : Argument::Unknown;
        char shown[160];
        long long answer = 0;
        switch (form) {
            case Argument::None:
                snprintf(shown, sizeof shown, "none");
                break;
            case Argument::Integer: {
                int32_t value = 0;
                if (argument != nullptr) {
                    memcpy(&value, argument, sizeof value);
                }
                snprintf(shown, sizeof shown, argument != nullptr ? "%d" : "NULL", value);
                answer = argument != nullptr ? 0 : -EFAULT;
                break;
            }
            case Argument::Text:
                snprintf(shown, sizeof shown, argument != nullptr ? "\"%.120s\"" : "NULL",
                         static_cast<const char *>(argument));
                answer = argument != nullptr ? 0 : -EFAULT;
                break;
            case Argument::Unknown:
                snprintf(shown, sizeof shown, "?");
                answer = -ENOTTY;
                break;
        }
        if (answer == 0 && state.failRequest[number] != 0) {
            answer = -state.failRequest[number];
        }
        char outcome[64];
        Journal("ioctl dlog 0x%lx %s = %s", request, shown, Outcome(answer, outcome, sizeof outcome));
        return answer;
    });
}

bool DlogClose(int fd, long long &result) {
    return OnDlog(fd, result, [&](int &slot) {
        Journal("close dlog");
        slot = -1;
        return real.close(fd) == 0 ? 0LL : -static_cast<long long>(errno);
    });
}

} // namespace tarn::bench::fake
