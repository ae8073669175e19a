// dlog: sends the kernel log driver one request per option. dlogger: copies the driver's log stream into
// numbered files on the SD card whenever a card is present.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <getopt.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tarn_commands.h"
#include "tarn_console.h"
#include "tarn_fdio.h"
#include "tarn_numbered_file.h"
#include "tarn_once_lines.h"
#include "tarn_time.h"
#include "tarn_unique_fd.h"

namespace {

constexpr const char kDevice[] = "/dev/dlog";
constexpr const char kOptions[] = "ap:il:n:m:he:s:t:r:d:o:c:u";

void Usage() {
    puts("usage: ");
    puts("| ");
    puts("-- -a, dump all log ");
    puts("-- -p, dump log by specified pid ");
    puts("-- -l, dump log by specified log level (0.error 1.warn 2.info 3.debug) ");
    puts("-- -n, dump log by specified process name ");
    puts("-- -m, dump log by specified keyword ");
    puts("-- -i, show log information ");
    puts("-- -t, set log real time print (0.disable 1.enable) ");
    puts("-- -r, set log real time print by module name ");
    puts("-- -h, this usage ");
    puts("eg: dlog -a ");
    puts("    dlog -p [pid]");
    puts("    dlog -l [log level] ");
    puts("    dlog -n [process name] ");
    puts("    dlog -m [keyword] ");
    puts("    dlog -t [0|1] ");
    puts("    dlog -r [module name] ");
    puts("    dlog -i ");
    puts("    dlog -h ");
    fflush(stdout);
}

// Write-direction requests of type 'D' with a 4-byte argument.
constexpr unsigned long Request(unsigned number) {
    return 0x40044400UL + number;
}

enum class Argument { None, Integer, Text };

struct OptionRequest {
    char option;
    unsigned number;
    Argument argument;
};

constexpr OptionRequest kRequests[] = {
    {'a', 0x00, Argument::None}, {'p', 0x01, Argument::Integer}, {'l', 0x02, Argument::Integer},
    {'n', 0x03, Argument::Text}, {'m', 0x04, Argument::Text},    {'i', 0x05, Argument::None},
    {'i', 0x06, Argument::None}, {'e', 0x07, Argument::Integer}, {'t', 0x09, Argument::Integer},
    {'r', 0x10, Argument::Text}, {'d', 0x11, Argument::Text},
};

// Sends every request of one option (-i has two; the second goes even when the first fails).
void SendRequests(int fd, char option, char *text) {
    for (const OptionRequest &request : kRequests) {
        if (request.option != option) {
            continue;
        }
        int32_t value = request.argument == Argument::Integer ? atoi(text) : 0;
        void *argument = request.argument == Argument::Integer ? static_cast<void *>(&value)
                         : request.argument == Argument::Text  ? static_cast<void *>(text)
                                                               : nullptr;
        if (ioctl(fd, Request(request.number), argument) < 0) {
            TARN_SYSERR("ioctl");
        }
    }
}

// --- dlogger ---

constexpr const char kCardDirectory[] = "/tmp/SD0/DCIM";
constexpr const char kLogDirectory[] = "/tmp/SD0/DCIM/DLOG";
constexpr const char kLogMarker[] = "dlog_";
constexpr size_t kLogNameChars = 31;
constexpr size_t kBlock = 1024;
constexpr uint64_t kCardPollUs = 1000000;
constexpr uint64_t kIdleUs = 100000;
constexpr uint32_t kSyncEveryMs = 1000;

// Lines a retry loop prints once until something changes: another card, or a read or write that worked.
enum Said : unsigned {
    kSaidDetected = 1U << 0,
    kSaidCreate = 1U << 1,
    kSaidMkdir = 1U << 2,
    kSaidOpen = 1U << 3,
    kSaidRead = 1U << 4,
    kSaidWrite = 1U << 5,
};

class Recorder {
public:
    // Runs until /dev/dlog will not open; returns -1 then.
    int Run() {
        for (;;) {
            if (!CardPresent()) {
                Time_SleepUs(kCardPollUs);
                continue;
            }
            if (PrepareDirectory() != 0 || OpenFile() != 0) {
                Time_SleepUs(kCardPollUs);
                continue;
            }
            UniqueFd device(open(kDevice, O_RDWR));
            if (!device.IsOpen()) {
                TARN_SYSERR("open");
                return -1;
            }
            Record(device.Get());
            TARN_WARN("%s is not exit, maybe SD card is undetected.\n", name_);
            // A card put back must not be written over from its start: the next file has the next number.
            file_ = UniqueFd();
            name_[0] = '\0';
            said_.ResetAll();
        }
    }

private:
    // The card is its DCIM folder; another card (or the same one seen gone) makes every line new again.
    bool CardPresent() {
        struct stat card {};
        if (stat(kCardDirectory, &card) != 0) {
            said_.ResetAll();
            cardDevice_ = 0;
            cardInode_ = 0;
            name_[0] = '\0';
            return false;
        }
        if (card.st_dev != cardDevice_ || card.st_ino != cardInode_) {
            cardDevice_ = card.st_dev;
            cardInode_ = card.st_ino;
            said_.ResetAll();
            name_[0] = '\0';
        }
        return true;
    }

    int PrepareDirectory() {
        if (access(kLogDirectory, F_OK) == 0) {
            if (said_.First(kSaidDetected)) {
                TARN_INFO("SD card is detected.\n");
            }
            return 0;
        }
        if (mkdir(kLogDirectory, 0777) != 0) {
            if (said_.First(kSaidMkdir)) {
                TARN_SYSERR("mkdir");
            }
            return -1;
        }
        return 0;
    }

    // A new file with the next free number; a name taken meanwhile moves on to the number after it.
    int OpenFile() {
        if (name_[0] != '\0' && access(name_, W_OK) == 0) {
            return 0;
        }
        int number = NumberedFile_Next(kLogDirectory, kLogMarker, kLogNameChars, true);
        for (;; ++number) {
            snprintf(name_, sizeof(name_), "%s/dlog_%04d", kLogDirectory, number);
            if (said_.First(kSaidCreate) || strcmp(name_, lastCreated_) != 0) {
                TARN_INFO("create file %s.\n", name_);
                snprintf(lastCreated_, sizeof(lastCreated_), "%s", name_);
            }
            file_ = UniqueFd(open(name_, O_RDWR | O_CREAT | O_EXCL, 0666));
            if (file_.IsOpen()) {
                return 0;
            }
            if (errno != EEXIST) {
                if (said_.First(kSaidOpen)) {
                    TARN_SYSERR("open");
                }
                return -1;
            }
        }
    }

    // Copies the stream while the file is there.
    void Record(int device) {
        uint8_t buffer[kBlock];
        bool unsynced = false;
        uint32_t syncedAt = Time_GetMs();
        while (access(name_, W_OK) == 0) {
            const ssize_t count = read(device, buffer, sizeof(buffer));
            if (count < 0) {
                if (said_.First(kSaidRead)) {
                    TARN_SYSERR("read");
                }
                Time_SleepUs(kIdleUs);
            } else if (count == 0) {
                Time_SleepUs(kIdleUs);
            } else {
                said_.Reset(kSaidRead);
                const FdioResult written = Fdio_WriteAll(file_.Get(), buffer, static_cast<size_t>(count));
                if (written.status != FdioStatus::Ok) {
                    errno = written.error;
                    if (said_.First(kSaidWrite)) {
                        TARN_SYSERR("write");
                    }
                } else {
                    said_.Reset(kSaidWrite);
                    unsynced = true;
                }
            }
            // The last seconds before a power cut are the ones people need: on the card within a second.
            if (unsynced && Time_GetMs() - syncedAt >= kSyncEveryMs) {
                fdatasync(file_.Get());
                unsynced = false;
                syncedAt = Time_GetMs();
            }
        }
    }

    UniqueFd file_;
    char name_[64] = {};
    char lastCreated_[64] = {};
    tarn::OnceLines said_;
    dev_t cardDevice_ = 0;
    ino_t cardInode_ = 0;
};

} // namespace

int Main_Dlog(int argc, char *argv[]) {
    if (argc < 2) {
        Usage();
        return 0;
    }
    const int fd = open(kDevice, O_RDWR);
    if (fd < 0) {
        TARN_SYSERR("open \n");
        return -1;
    }
    for (int option; (option = getopt(argc, argv, kOptions)) != -1;) {
        if (option == 'h') {
            Usage();
            return 0; // the device closes with the process
        }
        SendRequests(fd, static_cast<char>(option), optarg);
    }
    close(fd);
    return 0;
}

int Main_Dlogger(int, char *[]) {
    Recorder recorder;
    return recorder.Run();
}
