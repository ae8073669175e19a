// What the halves of the preloaded fake drivers share: the real C library calls, one lock, one journal.
#pragma once

#include <cstddef>
#include <pthread.h>
#include <sys/types.h>

namespace tarn::bench::fake {

struct Real {
    int (*open)(const char *, int, ...);
    int (*openat)(int, const char *, int, ...);
    ssize_t (*read)(int, void *, size_t);
    ssize_t (*write)(int, const void *, size_t);
    ssize_t (*pread)(int, void *, size_t, off_t);
    ssize_t (*pwrite)(int, const void *, size_t, off_t);
    off_t (*lseek)(int, off_t, int);
    int (*ioctl)(int, unsigned long, ...);
    int (*close)(int);
};

// Resolved on first use or at load, whichever comes first.
extern Real real;
Real &Calls();

// Guards both halves' tables and the journal; the program may have threads.
extern pthread_mutex_t driverLock;

// Reads the configuration once. Called with driverLock held.
void EnsureLoaded();

// Appends one line to the journal, when the configuration names one.
void Journal(const char *format, ...) __attribute__((format(printf, 1, 2)));
// A request's result as the journal shows it: the value, or -1 and the error's name (result is -errno).
const char *Outcome(long long result, char *text, size_t size);

// The log device's half. DlogConfigure takes the configuration lines that are its own (true), with driverLock
// held. The request calls return false for descriptors that are not /dev/dlog, and otherwise the result (or
// -errno) in result; they take driverLock themselves.
bool DlogConfigure(char *words[], int count);
bool IsDlogPath(const char *path);
int DlogOpen(int dirfd, const char *path, int flags, int mode);
bool DlogRead(int fd, void *buffer, size_t count, long long &result);
bool DlogIoctl(int fd, unsigned long request, void *argument, long long &result);
bool DlogClose(int fd, long long &result);

} // namespace tarn::bench::fake
