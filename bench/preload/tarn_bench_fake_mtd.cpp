// The bench's fake kernel drivers, preloaded into a tool in the sandbox: descriptors opened as /dev/mtdN are
// served from the NAND image bound there (tarn_bench_nand), /dev/dlog by the log half
// (tarn_bench_fake_dlog.cpp), with faults and a journal of every request as the sandbox's configuration file
// says. Everything else goes through to the C library untouched.
//
// The sandbox names the configuration file in TARN_BENCH_FAKE_MTD, only for the tool it runs. Lines:
//   journal PATH                    every request is appended to PATH, one line each
//   mtd N BLOCKS [protected] [kernel]
//                                   /dev/mtdN has BLOCKS erase blocks; protected refuses opening for writing;
//                                   kernel: /dev/mtdN is the kernel's own device, and every request goes to
//                                   it (faults and the journal stay), so that the same scenarios check the
//                                   kernel's answers where they check this driver's
//   bad N BLOCK                     block BLOCK of /dev/mtdN is bad
//   fail open|getinfo|getbad|read N every such request on /dev/mtdN fails with EIO
//   fail write|erase COUNT          the COUNTth write or MEMERASE of the process (on any mtd) fails with EIO
//   flip N OFFSET MASK              reads of byte OFFSET of /dev/mtdN come back XOR MASK
//   cut write|erase COUNT           power fails during the COUNTth write or MEMERASE: the page is half
//                                   programmed or the block's first half erased, then the process is killed
//   mismatch COUNT                  the COUNTth read of the process comes back with its first byte inverted
//   dlog ...                        the log device's lines (see tarn_bench_fake_dlog.cpp)
//
// This runs inside other programs (the tool, mtd_debug): no C++ runtime, no allocation, and a lock around
// the tables since the program may have threads.
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <mtd/mtd-user.h>
#include <pthread.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tarn_bench_fake_driver.h"
#include "tarn_bench_nand.h"

using tarn::bench::NandChip;

namespace {

constexpr int kMaxDevices = 16;
constexpr int kMaxDescriptors = 64;

enum Fault { kFailOpen = 1, kFailGetInfo = 2, kFailGetBad = 4, kFailRead = 8 };

struct Device {
    bool present;
    bool kernel; // requests go to the kernel's device
    NandChip chip;
    unsigned faults;
};

struct Descriptor {
    int fd; // -1: free
    int device;
    bool writable;
    uint64_t position;
};

using tarn::bench::fake::Real;
using tarn::bench::fake::real;

pthread_mutex_t &lock = tarn::bench::fake::driverLock;
bool loaded = false;
Device devices[kMaxDevices];
Descriptor descriptors[kMaxDescriptors];
int journalFd = -1;
long failWriteAt = 0; // the nth write that fails; 0: none
long failEraseAt = 0;
long cutWriteAt = 0; // the nth write during which power fails; 0: none
long cutEraseAt = 0;
long mismatchReadAt = 0;
long writes = 0;
long erases = 0;
long reads = 0;

template <typename Function> void Resolve(Function &function, const char *name) {
    function = reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

} // namespace

namespace tarn::bench::fake {

pthread_mutex_t driverLock = PTHREAD_MUTEX_INITIALIZER;
Real real;

void Journal(const char *format, ...) {
    if (journalFd < 0) {
        return;
    }
    char line[256];
    va_list arguments;
    va_start(arguments, format);
    const int length = vsnprintf(line, sizeof line - 1, format, arguments);
    va_end(arguments);
    if (length > 0) {
        const size_t size =
            static_cast<size_t>(length) < sizeof line - 1 ? static_cast<size_t>(length) : sizeof line - 2;
        line[size] = '\n';
        (void)!real.write(journalFd, line, size + 1);
    }
}

// The result of a request as the journal shows it: the value, or -1 and the error's name.
const char *Outcome(long long result, char *text, size_t size) {
    if (result < 0) {
        snprintf(text, size, "-1 %s", strerrorname_np(static_cast<int>(-result)));
    } else {
        snprintf(text, size, "%lld", result);
    }
    return text;
}

} // namespace tarn::bench::fake

namespace {

using tarn::bench::fake::Journal;
using tarn::bench::fake::Outcome;

void ParseLine(char *line) {
    char *words[5] = {};
    int count = 0;
    for (char *save = nullptr, *word = strtok_r(line, " \t\n", &save); word != nullptr && count < 5;
         word = strtok_r(nullptr, " \t\n", &save)) {
        words[count++] = word;
    }
    if (count < 2 || tarn::bench::fake::DlogConfigure(words, count)) {
        return;
    }
    const long n = strtol(words[1], nullptr, 0);
    Device *device = n >= 0 && n < kMaxDevices ? &devices[n] : nullptr;
    if (strcmp(words[0], "journal") == 0) {
        journalFd = real.open(words[1], O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    } else if (strcmp(words[0], "mtd") == 0 && device != nullptr && count >= 3) {
        device->present = true;
        device->chip.blocks = static_cast<uint32_t>(strtoul(words[2], nullptr, 0));
        for (int word = 3; word < count; ++word) {
            device->chip.writeProtected = device->chip.writeProtected || strcmp(words[word], "protected") == 0;
            device->kernel = device->kernel || strcmp(words[word], "kernel") == 0;
        }
    } else if (strcmp(words[0], "bad") == 0 && device != nullptr && count >= 3) {
        tarn::bench::NandMarkBad(device->chip, static_cast<uint32_t>(strtoul(words[2], nullptr, 0)));
    } else if (strcmp(words[0], "flip") == 0 && device != nullptr && count >= 4 &&
               device->chip.flipCount < tarn::bench::kNandMaxFlips) {
        device->chip.flips[device->chip.flipCount++] = {static_cast<uint32_t>(strtoul(words[2], nullptr, 0)),
                                                        static_cast<uint8_t>(strtoul(words[3], nullptr, 0))};
    } else if (strcmp(words[0], "cut") == 0 && count >= 3) {
        (strcmp(words[1], "write") == 0 ? cutWriteAt : cutEraseAt) = strtol(words[2], nullptr, 0);
    } else if (strcmp(words[0], "mismatch") == 0) {
        mismatchReadAt = strtol(words[1], nullptr, 0);
    } else if (strcmp(words[0], "fail") == 0 && count >= 3) {
        const long value = strtol(words[2], nullptr, 0);
        Device *target = value >= 0 && value < kMaxDevices ? &devices[value] : nullptr;
        if (strcmp(words[1], "write") == 0) {
            failWriteAt = value;
        } else if (strcmp(words[1], "erase") == 0) {
            failEraseAt = value;
        } else if (target != nullptr) {
            target->faults |= strcmp(words[1], "open") == 0      ? kFailOpen
                              : strcmp(words[1], "getinfo") == 0 ? kFailGetInfo
                              : strcmp(words[1], "getbad") == 0  ? kFailGetBad
                              : strcmp(words[1], "read") == 0    ? kFailRead
                                                                 : 0;
        }
    }
}

void LoadConfiguration() {
    const char *path = getenv("TARN_BENCH_FAKE_MTD");
    const int fd = path != nullptr ? real.open(path, O_RDONLY | O_CLOEXEC) : -1;
    if (fd < 0) {
        return;
    }
    char text[8192];
    ssize_t length = 0;
    for (ssize_t got; length < static_cast<ssize_t>(sizeof text) - 1 &&
                      (got = real.read(fd, text + length, sizeof text - 1 - static_cast<size_t>(length))) > 0;) {
        length += got;
    }
    real.close(fd);
    text[length > 0 ? length : 0] = '\0';
    for (char *save = nullptr, *line = strtok_r(text, "\n", &save); line != nullptr;
         line = strtok_r(nullptr, "\n", &save)) {
        ParseLine(line);
    }
}

} // namespace

// Called with the lock held.
void tarn::bench::fake::EnsureLoaded() {
    if (loaded) {
        return;
    }
    loaded = true;
    for (Descriptor &descriptor : descriptors) {
        descriptor.fd = -1;
    }
    LoadConfiguration();
}

namespace {

using tarn::bench::fake::EnsureLoaded;

// Resolves the real calls before anything else can call in: the dynamic loader's own lookups are not ours.
__attribute__((constructor)) void ResolveReal() {
    Resolve(real.open, "open");
    Resolve(real.openat, "openat");
    Resolve(real.read, "read");
    Resolve(real.write, "write");
    Resolve(real.pread, "pread");
    Resolve(real.pwrite, "pwrite");
    Resolve(real.lseek, "lseek");
    Resolve(real.ioctl, "ioctl");
    Resolve(real.close, "close");
}

} // namespace

tarn::bench::fake::Real &tarn::bench::fake::Calls() {
    if (real.open == nullptr) {
        ResolveReal();
    }
    return real;
}

namespace {

using tarn::bench::fake::Calls;

// The device number of a path "/dev/mtdN", or -1.
int MtdNumber(const char *path) {
    static const char kPrefix[] = "/dev/mtd";
    if (path == nullptr || strncmp(path, kPrefix, sizeof kPrefix - 1) != 0) {
        return -1;
    }
    const char *digits = path + sizeof kPrefix - 1;
    if (*digits < '0' || *digits > '9') {
        return -1;
    }
    char *end = nullptr;
    const long n = strtol(digits, &end, 10);
    return *end == '\0' && n < kMaxDevices ? static_cast<int>(n) : -1;
}

Descriptor *Find(int fd) {
    if (fd < 0 || !loaded) {
        return nullptr;
    }
    for (Descriptor &descriptor : descriptors) {
        if (descriptor.fd == fd) {
            return &descriptor;
        }
    }
    return nullptr;
}

const char *AccessName(int flags) {
    switch (flags & O_ACCMODE) {
        case O_RDONLY:
            return "O_RDONLY";
        case O_WRONLY:
            return "O_WRONLY";
        default:
            return "O_RDWR";
    }
}

int Fail(int error) {
    errno = error;
    return -1;
}

// Opens /dev/mtdN (number n) as the kernel driver would; path is the bound image. A device the scenario
// does not have is left to the C library (no such file).
int OpenMtd(int n, int dirfd, const char *path, int flags, int mode) {
    Calls();
    pthread_mutex_lock(&lock);
    EnsureLoaded();
    Device &device = devices[n];
    if (!device.present) {
        pthread_mutex_unlock(&lock);
        return real.openat(dirfd, path, flags, mode);
    }
    const bool writable = (flags & O_ACCMODE) != O_RDONLY;
    int result = 0;
    if ((device.faults & kFailOpen) != 0) {
        result = -EIO;
    } else if (writable && device.chip.writeProtected) {
        result = -EACCES;
    }
    if (result == 0) {
        // The image is a plain file: never create, truncate or append to it. The kernel's device checks
        // the access itself.
        const int imageFlags =
            (flags & ~(O_CREAT | O_TRUNC | O_APPEND | O_ACCMODE)) | (device.kernel ? (flags & O_ACCMODE) : O_RDWR);
        const int fd = real.openat(dirfd, path, imageFlags, 0);
        Descriptor *slot = nullptr;
        for (Descriptor &candidate : descriptors) {
            if (slot == nullptr && candidate.fd < 0) {
                slot = &candidate;
            }
        }
        if (fd < 0) {
            result = -errno;
        } else if (slot == nullptr) {
            real.close(fd);
            result = -EMFILE;
        } else {
            *slot = {fd, n, writable, 0};
            device.chip.imageFd = fd;
            result = fd;
        }
    }
    char outcome[64];
    Journal("open mtd%d %s = %s", n, AccessName(flags), Outcome(result, outcome, sizeof outcome));
    pthread_mutex_unlock(&lock);
    return result < 0 ? Fail(-result) : result;
}

int ModeOf(int flags, va_list arguments) {
    return (flags & (O_CREAT | O_TMPFILE)) != 0 ? va_arg(arguments, int) : 0;
}

int OpenAt(int dirfd, const char *path, int flags, int mode) {
    const int n = MtdNumber(path);
    if (n >= 0) {
        return OpenMtd(n, dirfd, path, flags, mode);
    }
    return tarn::bench::fake::IsDlogPath(path) ? tarn::bench::fake::DlogOpen(dirfd, path, flags, mode)
                                               : Calls().openat(dirfd, path, flags, mode);
}

// Power fails: the journal says where, and the process ends as a machine losing power would, at once.
[[noreturn]] void PowerCut(const char *request, int device, unsigned long long position) {
    Journal("cut %s mtd%d 0x%llx", request, device, position);
    kill(getpid(), SIGKILL);
    for (;;) {
        pause();
    }
}

// -errno of a failed call, or its result.
long long Result(long long value) {
    return value < 0 ? -static_cast<long long>(errno) : value;
}

// A page program on either kind of device.
ssize_t Program(const Device &device, const tarn::bench::NandIo &io, uint64_t position, const void *buffer,
                size_t count) {
    if (device.kernel) {
        return static_cast<ssize_t>(
            Result(real.pwrite(device.chip.imageFd, buffer, count, static_cast<off_t>(position))));
    }
    return tarn::bench::NandProgram(io, device.chip, position, buffer, count);
}

// The first half of a page programmed, the rest left as it was: the chip was cut off mid-program.
void ProgramHalf(const tarn::bench::NandIo &io, const Device &device, uint64_t position, const void *buffer,
                 size_t count) {
    uint8_t page[tarn::bench::kNandPageSize];
    memset(page, 0xFF, sizeof page);
    if (count >= sizeof page) {
        memcpy(page, buffer, sizeof page / 2);
        Program(device, io, position, page, sizeof page);
    }
}

// The first half of an erase block erased, the rest left as it was. Past the image's end all is erased
// already (and writing there would leave a hole of zeros). The kernel's device erases whole blocks only: its
// second half is read first and programmed again.
void EraseHalf(const Device &device, uint64_t start) {
    const NandChip &chip = device.chip;
    uint8_t page[tarn::bench::kNandPageSize];
    if (device.kernel) {
        static uint8_t kept[tarn::bench::kNandBlockSize / 2]; // only ever used on the way to SIGKILL
        const uint64_t half = start + sizeof kept;
        if (real.pread(chip.imageFd, kept, sizeof kept, static_cast<off_t>(half)) !=
            static_cast<ssize_t>(sizeof kept)) {
            return;
        }
        erase_info_user erase{static_cast<uint32_t>(start), tarn::bench::kNandBlockSize};
        if (real.ioctl(chip.imageFd, MEMERASE, &erase) != 0) {
            return;
        }
        memset(page, 0xFF, sizeof page);
        for (size_t at = 0; at < sizeof kept; at += sizeof page) {
            if (memcmp(kept + at, page, sizeof page) != 0) {
                (void)!real.pwrite(chip.imageFd, kept + at, sizeof page, static_cast<off_t>(half + at));
            }
        }
        return;
    }
    struct stat image {};
    if (fstat(chip.imageFd, &image) != 0 || start >= static_cast<uint64_t>(image.st_size)) {
        return;
    }
    memset(page, 0xFF, sizeof page);
    for (uint64_t at = start; at < start + tarn::bench::kNandBlockSize / 2 && at < static_cast<uint64_t>(image.st_size);
         at += sizeof page) {
        (void)!real.pwrite(chip.imageFd, page, sizeof page, static_cast<off_t>(at));
    }
}

// The lock is held by the caller for every request on a mtd descriptor.
ssize_t ReadMtd(Descriptor &descriptor, void *buffer, size_t count, uint64_t position, bool advance) {
    Device &device = devices[descriptor.device];
    device.chip.imageFd = descriptor.fd;
    const tarn::bench::NandIo io{real.pread, real.pwrite};
    ssize_t result = -EIO;
    if ((device.faults & kFailRead) == 0 && device.kernel) {
        result = static_cast<ssize_t>(Result(real.pread(descriptor.fd, buffer, count, static_cast<off_t>(position))));
        if (result > 0) {
            tarn::bench::NandApplyFlips(device.chip, position, static_cast<uint8_t *>(buffer),
                                        static_cast<size_t>(result));
        }
    } else if ((device.faults & kFailRead) == 0) {
        result = tarn::bench::NandRead(io, device.chip, position, buffer, count);
    }
    if (++reads == mismatchReadAt && result > 0) {
        static_cast<uint8_t *>(buffer)[0] ^= 0xFF;
    }
    if (result > 0 && advance) {
        descriptor.position += static_cast<uint64_t>(result);
    }
    char outcome[64];
    Journal("read mtd%d 0x%llx %zu = %s", descriptor.device, static_cast<unsigned long long>(position), count,
            Outcome(result, outcome, sizeof outcome));
    return result;
}

ssize_t WriteMtd(Descriptor &descriptor, const void *buffer, size_t count, uint64_t position, bool advance) {
    Device &device = devices[descriptor.device];
    device.chip.imageFd = descriptor.fd;
    const tarn::bench::NandIo io{real.pread, real.pwrite};
    ssize_t result = -EBADF;
    if (descriptor.writable && writes + 1 == cutWriteAt) {
        ProgramHalf(io, device, position, buffer, count);
        PowerCut("write", descriptor.device, static_cast<unsigned long long>(position));
    }
    if (descriptor.writable) {
        result = ++writes == failWriteAt ? -EIO : Program(device, io, position, buffer, count);
    }
    if (result > 0 && advance) {
        descriptor.position += static_cast<uint64_t>(result);
    }
    char outcome[64];
    Journal("write mtd%d 0x%llx %zu = %s", descriptor.device, static_cast<unsigned long long>(position), count,
            Outcome(result, outcome, sizeof outcome));
    return result;
}

int IoctlMtd(Descriptor &descriptor, unsigned long request, void *argument) {
    Device &device = devices[descriptor.device];
    device.chip.imageFd = descriptor.fd;
    const tarn::bench::NandIo io{real.pread, real.pwrite};
    char outcome[64];
    int result = 0;
    switch (request) {
        case MEMGETINFO: {
            result = (device.faults & kFailGetInfo) != 0 ? -EIO : 0;
            if (result == 0 && device.kernel) {
                result = static_cast<int>(Result(real.ioctl(descriptor.fd, MEMGETINFO, argument)));
                if (result == 0 && device.chip.writeProtected) {
                    mtd_info_user info{};
                    memcpy(&info, argument, sizeof info);
                    info.flags &= ~static_cast<uint32_t>(MTD_WRITEABLE);
                    memcpy(argument, &info, sizeof info);
                }
            } else if (result == 0) {
                mtd_info_user info{};
                info.type = MTD_NANDFLASH;
                info.flags = device.chip.writeProtected ? 0 : MTD_CAP_NANDFLASH;
                info.size = static_cast<uint32_t>(tarn::bench::NandSize(device.chip));
                info.erasesize = tarn::bench::kNandBlockSize;
                info.writesize = tarn::bench::kNandPageSize;
                info.oobsize = tarn::bench::kNandOobSize;
                memcpy(argument, &info, sizeof info);
            }
            Journal("MEMGETINFO mtd%d = %s", descriptor.device, Outcome(result, outcome, sizeof outcome));
            break;
        }
        case MEMGETREGIONCOUNT: {
            const int regions = 0; // NAND has one erase size
            memcpy(argument, &regions, sizeof regions);
            if (device.kernel) {
                result = static_cast<int>(Result(real.ioctl(descriptor.fd, MEMGETREGIONCOUNT, argument)));
            }
            Journal("MEMGETREGIONCOUNT mtd%d = %s", descriptor.device, Outcome(result, outcome, sizeof outcome));
            break;
        }
        case MEMGETBADBLOCK: {
            long long offset = 0;
            memcpy(&offset, argument, sizeof offset);
            result = (device.faults & kFailGetBad) != 0 ? -EIO
                     : device.kernel ? static_cast<int>(Result(real.ioctl(descriptor.fd, MEMGETBADBLOCK, &offset)))
                                     : tarn::bench::NandBlockIsBad(device.chip, offset);
            Journal("MEMGETBADBLOCK mtd%d 0x%llx = %s", descriptor.device, offset,
                    Outcome(result, outcome, sizeof outcome));
            break;
        }
        case MEMERASE: {
            erase_info_user erase{};
            memcpy(&erase, argument, sizeof erase);
            if (descriptor.writable && erases + 1 == cutEraseAt) {
                EraseHalf(device, erase.start);
                PowerCut("erase", descriptor.device, erase.start);
            }
            if (!descriptor.writable) {
                result = -EPERM;
            } else if (device.kernel) {
                result = ++erases == failEraseAt
                             ? -EIO
                             : static_cast<int>(Result(real.ioctl(descriptor.fd, MEMERASE, &erase)));
            } else {
                result =
                    ++erases == failEraseAt ? -EIO : tarn::bench::NandErase(io, device.chip, erase.start, erase.length);
            }
            Journal("MEMERASE mtd%d 0x%x 0x%x = %s", descriptor.device, erase.start, erase.length,
                    Outcome(result, outcome, sizeof outcome));
            break;
        }
        default:
            result = device.kernel ? static_cast<int>(Result(real.ioctl(descriptor.fd, request, argument))) : -ENOTTY;
            Journal("ioctl mtd%d 0x%lx = %s", descriptor.device, request, Outcome(result, outcome, sizeof outcome));
            break;
    }
    return result;
}

// Runs one request on a mtd descriptor under the lock, or returns false for other descriptors.
template <typename Request> bool OnMtd(int fd, long long &result, Request request) {
    pthread_mutex_lock(&lock);
    Descriptor *descriptor = Find(fd);
    if (descriptor != nullptr) {
        result = request(*descriptor);
    }
    pthread_mutex_unlock(&lock);
    return descriptor != nullptr;
}

template <typename Value> Value Returned(long long result) {
    if (result < 0) {
        errno = static_cast<int>(-result);
        return static_cast<Value>(-1);
    }
    return static_cast<Value>(result);
}

ssize_t Read(int fd, void *buffer, size_t count) {
    long long result = 0;
    if (tarn::bench::fake::DlogRead(fd, buffer, count, result)) {
        return Returned<ssize_t>(result);
    }
    if (OnMtd(fd, result, [&](Descriptor &d) { return ReadMtd(d, buffer, count, d.position, true); })) {
        return Returned<ssize_t>(result);
    }
    return Calls().read(fd, buffer, count);
}

ssize_t PRead(int fd, void *buffer, size_t count, off_t offset) {
    long long result = 0;
    if (OnMtd(fd, result, [&](Descriptor &d) {
            return offset < 0 ? -EINVAL : ReadMtd(d, buffer, count, static_cast<uint64_t>(offset), false);
        })) {
        return Returned<ssize_t>(result);
    }
    return Calls().pread(fd, buffer, count, offset);
}

ssize_t Write(int fd, const void *buffer, size_t count) {
    long long result = 0;
    if (OnMtd(fd, result, [&](Descriptor &d) { return WriteMtd(d, buffer, count, d.position, true); })) {
        return Returned<ssize_t>(result);
    }
    return Calls().write(fd, buffer, count);
}

ssize_t PWrite(int fd, const void *buffer, size_t count, off_t offset) {
    long long result = 0;
    if (OnMtd(fd, result, [&](Descriptor &d) {
            return offset < 0 ? -EINVAL : WriteMtd(d, buffer, count, static_cast<uint64_t>(offset), false);
        })) {
        return Returned<ssize_t>(result);
    }
    return Calls().pwrite(fd, buffer, count, offset);
}

off_t Seek(int fd, off_t offset, int whence) {
    long long result = 0;
    if (OnMtd(fd, result, [&](Descriptor &d) {
            const Device &device = devices[d.device];
            // The kernel's descriptor learns the position reads and writes have reached first.
            const int64_t position = device.kernel ? (real.lseek(d.fd, static_cast<off_t>(d.position), SEEK_SET) < 0
                                                          ? -static_cast<int64_t>(errno)
                                                          : Result(real.lseek(d.fd, offset, whence)))
                                                   : tarn::bench::NandSeek(device.chip, d.position, offset, whence);
            if (position >= 0) {
                d.position = static_cast<uint64_t>(position);
            }
            char outcome[64];
            Journal("lseek mtd%d 0x%llx %d = %s", d.device, static_cast<long long>(offset), whence,
                    Outcome(position, outcome, sizeof outcome));
            return position;
        })) {
        return Returned<off_t>(result);
    }
    return Calls().lseek(fd, offset, whence);
}

} // namespace

// The interposed C library entries. Fortified variants check their buffer length the way the library does.
extern "C" {

int open(const char *path, int flags, ...) {
    va_list arguments;
    va_start(arguments, flags);
    const int mode = ModeOf(flags, arguments);
    va_end(arguments);
    return OpenAt(AT_FDCWD, path, flags, mode);
}

int open64(const char *path, int flags, ...) {
    va_list arguments;
    va_start(arguments, flags);
    const int mode = ModeOf(flags, arguments);
    va_end(arguments);
    return OpenAt(AT_FDCWD, path, flags | O_LARGEFILE, mode);
}

int openat(int dirfd, const char *path, int flags, ...) {
    va_list arguments;
    va_start(arguments, flags);
    const int mode = ModeOf(flags, arguments);
    va_end(arguments);
    return OpenAt(dirfd, path, flags, mode);
}

int openat64(int dirfd, const char *path, int flags, ...) {
    va_list arguments;
    va_start(arguments, flags);
    const int mode = ModeOf(flags, arguments);
    va_end(arguments);
    return OpenAt(dirfd, path, flags | O_LARGEFILE, mode);
}

int __open_2(const char *path, int flags) {
    return OpenAt(AT_FDCWD, path, flags, 0);
}

int __open64_2(const char *path, int flags) {
    return OpenAt(AT_FDCWD, path, flags | O_LARGEFILE, 0);
}

int __openat_2(int dirfd, const char *path, int flags) {
    return OpenAt(dirfd, path, flags, 0);
}

int __openat64_2(int dirfd, const char *path, int flags) {
    return OpenAt(dirfd, path, flags | O_LARGEFILE, 0);
}

int creat(const char *path, mode_t mode) {
    return OpenAt(AT_FDCWD, path, O_CREAT | O_WRONLY | O_TRUNC, static_cast<int>(mode));
}

int creat64(const char *path, mode_t mode) {
    return OpenAt(AT_FDCWD, path, O_CREAT | O_WRONLY | O_TRUNC | O_LARGEFILE, static_cast<int>(mode));
}

ssize_t read(int fd, void *buffer, size_t count) {
    return Read(fd, buffer, count);
}

ssize_t __read_chk(int fd, void *buffer, size_t count, size_t length) {
    if (count > length) {
        abort();
    }
    return Read(fd, buffer, count);
}

ssize_t pread(int fd, void *buffer, size_t count, off_t offset) {
    return PRead(fd, buffer, count, offset);
}

ssize_t pread64(int fd, void *buffer, size_t count, off_t offset) {
    return PRead(fd, buffer, count, offset);
}

ssize_t __pread_chk(int fd, void *buffer, size_t count, off_t offset, size_t length) {
    if (count > length) {
        abort();
    }
    return PRead(fd, buffer, count, offset);
}

ssize_t __pread64_chk(int fd, void *buffer, size_t count, off_t offset, size_t length) {
    if (count > length) {
        abort();
    }
    return PRead(fd, buffer, count, offset);
}

ssize_t write(int fd, const void *buffer, size_t count) {
    return Write(fd, buffer, count);
}

ssize_t pwrite(int fd, const void *buffer, size_t count, off_t offset) {
    return PWrite(fd, buffer, count, offset);
}

ssize_t pwrite64(int fd, const void *buffer, size_t count, off_t offset) {
    return PWrite(fd, buffer, count, offset);
}

off_t lseek(int fd, off_t offset, int whence) {
    return Seek(fd, offset, whence);
}

off_t lseek64(int fd, off_t offset, int whence) {
    return Seek(fd, offset, whence);
}

int ioctl(int fd, unsigned long request, ...) {
    va_list arguments;
    va_start(arguments, request);
    void *argument = va_arg(arguments, void *);
    va_end(arguments);
    long long result = 0;
    if (tarn::bench::fake::DlogIoctl(fd, request, argument, result)) {
        return Returned<int>(result);
    }
    if (OnMtd(fd, result, [&](Descriptor &d) { return IoctlMtd(d, request, argument); })) {
        return Returned<int>(result);
    }
    return Calls().ioctl(fd, request, argument);
}

int close(int fd) {
    long long result = 0;
    if (tarn::bench::fake::DlogClose(fd, result)) {
        return Returned<int>(result);
    }
    if (OnMtd(fd, result, [&](Descriptor &d) {
            Journal("close mtd%d", d.device);
            const int closed = real.close(d.fd);
            d.fd = -1;
            return closed == 0 ? 0LL : -static_cast<long long>(errno);
        })) {
        return Returned<int>(result);
    }
    return Calls().close(fd);
}

} // extern "C"
