// mcu_dlogger: the receive thread queues what the line brings; the main thread writes the queue to the card.
#include "tarn_mcu_dlogger.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <getopt.h>
#include <new>
#include <sys/stat.h>
#include <unistd.h>

#include "tarn_cancellable.h"
#include "tarn_commands.h"
#include "tarn_console.h"
#include "tarn_fdio.h"
#include "tarn_fifo.h"
#include "tarn_mutex.h"
#include "tarn_numbered_file.h"
#include "tarn_once_lines.h"
#include "tarn_thread.h"
#include "tarn_time.h"
#include "tarn_uart.h"
#include "tarn_unique_fd.h"

namespace {

constexpr const char kOptions[] = "d:f:u:h";
constexpr const char kName[] = "mcu_dlogger";
constexpr uint32_t kQueueSize = 16384;
constexpr int32_t kBaudrate = 115200;
constexpr uint32_t kBlock = 1024;
constexpr uint32_t kReadTimeoutMs = 100;
constexpr int32_t kLastPort = 4;
// The numbering reads the first 31 characters of each name.
constexpr size_t kNameChars = 31;
constexpr uint64_t kIdlePauseUs = 100000;
constexpr uint64_t kRetryPauseUs = 1000000;
constexpr uint64_t kReadFailurePauseUs = 100000;
constexpr uint64_t kFullQueuePauseUs = 1000000;
constexpr uint64_t kFullQueueLookUs = 10000;
// A power cut loses at most the last second of log.
constexpr uint32_t kSyncIntervalMs = 1000;

constexpr const char kCardDevice[] = "/dev/mmcblk0";
constexpr const char kCardMount[] = "/tmp/SD0";
constexpr const char kCardMountParent[] = "/tmp";

void Usage() {
    puts("usage: ");
    puts("| ");
    puts("-- -d, special directory name");
    puts("-- -f, special fix name ");
    puts("-- -u, special uart port number ");
    puts("-- -h, this usage ");
    puts("eg: mcu_dlogger -u [0~3] ");
    puts("    mcu_dlogger -d [dir] -f [fix] -u [0~4] ");
    fflush(stdout);
}

// The retry loops print each of these once until something changes: the card comes back, or a write succeeds
// (a read that worked, for the receive thread's line).
enum Line : unsigned {
    kLineOpenFailed = 1u << 0,
    kLineOpened = 1u << 1,
    kLineWriteFailed = 1u << 2,
    kLineReadFailed = 1u << 3,
};

bool UnderCardMount(const char *dir) {
    const size_t length = strlen(kCardMount);
    return strncmp(dir, kCardMount, length) == 0 && (dir[length] == '\0' || dir[length] == '/');
}

// The card device must exist; a directory on the card also needs the card's file system mounted, or the log
// would grow unseen in RAM under the empty mount point.
bool CardPresent(const char *dir) {
    struct stat status = {};
    if (stat(kCardDevice, &status) != 0) {
        return false;
    }
    if (!UnderCardMount(dir)) {
        return true;
    }
    struct stat mountPoint = {};
    struct stat parent = {};
    return stat(kCardMount, &mountPoint) == 0 && stat(kCardMountParent, &parent) == 0 &&
           mountPoint.st_dev != parent.st_dev;
}

void *McuDlogger_Thread(void *pArg);

} // namespace

struct McuDlogger {
    // Fixed at creation; both threads use the handles.
    const char *pDir = nullptr;
    const char *pFix = nullptr;
    Fifo *pFifo = nullptr;
    Uart *pUart = nullptr;
    Mutex *pMutex = nullptr;
    Thread *pThread = nullptr;

    // Receive thread only.
    tarn::OnceLines receiveLines;

    // Written by the owner's thread (true while the file is open), read by the receive thread; an atomic flag
    // on its own, so no lock.
    std::atomic<bool> recording{false};

    // Owner's thread only (McuDlogger_Step).
    UniqueFd file;
    int number = 0; // 0 until the first open succeeds, then fixed for the run
    char path[PATH_MAX] = {};
    bool cardGone = false;
    tarn::OnceLines shownLines;
    bool syncPending = false;
    uint32_t lastSyncMs = 0;
};

namespace {

// Up to a second, looking every 10 ms: true when the queue has room again.
bool WaitForRoom(Fifo *pFifo) {
    for (uint64_t waited = 0; waited < kFullQueuePauseUs && pFifo->IsFull(pFifo) != 0; waited += kFullQueueLookUs) {
        tarn::CancellableSleepUs(kFullQueueLookUs);
    }
    return pFifo->IsFull(pFifo) == 0;
}

void *McuDlogger_Thread(void *pArg) {
    auto *pLogger = static_cast<McuDlogger *>(pArg);
    tarn::DisableCancellation();
    uint8_t buffer[kBlock];
    for (;;) {
        Uart *pUart = pLogger->pUart;
        Fifo *pFifo = pLogger->pFifo;
        // A full queue while the file is open: a card write is slow for a moment, and the bytes wait on the line
        // for up to a second. Without a file (no card) the line is kept drained instead: what the full queue
        // cannot take is dropped as it comes, so that a card that comes back finds the line's own buffer
        // empty and the stream goes on from then without a gap.
        const bool full = pFifo->IsFull(pFifo) != 0;
        if (full && pLogger->recording.load() && WaitForRoom(pFifo)) {
            continue;
        }
        // Up to the room left in the queue: what does not fit yet waits on the line instead of being dropped.
        const uint32_t room = kQueueSize - pFifo->Len(pFifo);
        const uint32_t wanted = full ? kBlock : std::min(room, kBlock);
        const int count = tarn::Cancellable([&] { return pUart->ReadTimeout(pUart, buffer, wanted, kReadTimeoutMs); });
        if (count < 0) {
            if (pLogger->receiveLines.First(kLineReadFailed)) {
                TARN_WARN("uart read fail.\n");
            }
            tarn::CancellableSleepUs(kReadFailurePauseUs);
            continue;
        }
        if (count == 0) {
            continue;
        }
        pLogger->receiveLines.Reset(kLineReadFailed);
        // Looked at again: the card may have come back while the read waited, and the queue taken bytes out.
        if (pFifo->IsFull(pFifo) == 0) {
            pLogger->pMutex->Lock(pLogger->pMutex);
            pFifo->Put(pFifo, buffer, static_cast<uint32_t>(count));
            pLogger->pMutex->Unlock(pLogger->pMutex);
        }
    }
    return nullptr;
}

void CloseLog(McuDlogger &logger) {
    logger.file = UniqueFd();
    logger.recording = false;
    logger.syncPending = false;
}

// Writes the file's data through to the card at most once a second.
void SyncIfDue(McuDlogger &logger) {
    if (!logger.syncPending || Time_GetMs() - logger.lastSyncMs < kSyncIntervalMs) {
        return;
    }
    if (fdatasync(logger.file.Get()) != 0 && logger.shownLines.First(kLineWriteFailed)) {
        TARN_SYSERR("fdatasync");
    }
    logger.syncPending = false;
    logger.lastSyncMs = Time_GetMs();
}

int OpenLog(McuDlogger &logger) {
    // The number is chosen when the card is there, not at start-up: at boot the card is often not mounted
    // yet, and every session would append to number 1.
    const int number =
        logger.number != 0 ? logger.number : NumberedFile_Next(logger.pDir, logger.pFix, kNameChars, true);
    const int length = snprintf(logger.path, sizeof(logger.path), "%s/%s_%04d", logger.pDir, logger.pFix, number);
    int fd = -1;
    if (length >= static_cast<int>(sizeof(logger.path))) {
        errno = ENAMETOOLONG;
    } else {
        fd = open(logger.path, O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    }
    if (fd < 0) {
        if (logger.shownLines.First(kLineOpenFailed)) {
            TARN_SYSERR("open");
        }
        return -1;
    }
    logger.file = UniqueFd(fd);
    logger.recording = true;
    logger.number = number;
    if (logger.shownLines.First(kLineOpened)) {
        TARN_INFO("open file '%s' and begin to record log.\n", logger.path);
    }
    return 0;
}

void DeleteHandles(McuDlogger &logger) {
    if (logger.pThread != nullptr) {
        Thread_Stop(logger.pThread);
        Thread_Delete(&logger.pThread);
    }
    if (logger.pMutex != nullptr) {
        Mutex_Delete(&logger.pMutex);
    }
    if (logger.pUart != nullptr) {
        Uart_Delete(&logger.pUart);
    }
    if (logger.pFifo != nullptr) {
        Fifo_Delete(&logger.pFifo);
    }
}

} // namespace

int McuDlogger_Create(McuDlogger **ppLogger, const McuDloggerParam *pParam) {
    TARN_ASSERT(ppLogger);
    TARN_ASSERT(pParam);
    if (pParam->port < 0 || pParam->port > kLastPort) {
        TARN_ERR("invalid uart port: %d.\n", static_cast<int>(pParam->port));
        return -1;
    }
    auto *pLogger = new (std::nothrow) McuDlogger{};
    if (pLogger == nullptr) {
        TARN_ERR("malloc fail.\n");
        return -1;
    }
    pLogger->pDir = pParam->pDir;
    pLogger->pFix = pParam->pFix;
    const FifoParam fifoParam = {kName, kQueueSize};
    const UartParam uartParam = {pParam->port, kBaudrate};
    const MutexParam mutexParam = {kName};
    const ThreadParam threadParam = {kName, pLogger, McuDlogger_Thread};
    const char *failed = nullptr;
    if (Fifo_Create(&pLogger->pFifo, &fifoParam) != 0) {
        failed = "Fifo_Create\n";
    } else if (Uart_Create(&pLogger->pUart, &uartParam) != 0) {
        failed = "Uart_Create\n";
    } else if (Mutex_Create(&pLogger->pMutex, &mutexParam) != 0) {
        failed = "Mutex_Create \n";
    } else if (Thread_Create(&pLogger->pThread, &threadParam) != 0) {
        failed = "Thread_Create \n";
    }
    if (failed != nullptr) {
        TARN_ERR("%s", failed);
        DeleteHandles(*pLogger);
        delete pLogger;
        return -1;
    }
    *ppLogger = pLogger;
    return 0;
}

void McuDlogger_Step(McuDlogger *pLogger) {
    McuDlogger &logger = *pLogger;
    if (!CardPresent(logger.pDir)) {
        // The file goes with the card; it is appended to again when the card is back.
        CloseLog(logger);
        logger.cardGone = true;
        Time_SleepUs(kRetryPauseUs);
        return;
    }
    if (logger.cardGone) {
        logger.cardGone = false;
        logger.shownLines.ResetAll();
    }
    const uint32_t queued = logger.pFifo->Len(logger.pFifo);
    if (queued == 0) {
        if (logger.file.IsOpen()) {
            SyncIfDue(logger);
        }
        Time_SleepUs(kIdlePauseUs);
        return;
    }
    uint8_t block[kBlock];
    logger.pMutex->Lock(logger.pMutex);
    const uint32_t taken = logger.pFifo->Get(logger.pFifo, block, std::min(queued, kBlock));
    logger.pMutex->Unlock(logger.pMutex);
    if (!logger.file.IsOpen() && OpenLog(logger) != 0) {
        Time_SleepUs(kRetryPauseUs);
        return;
    }
    const FdioResult written = Fdio_WriteAll(logger.file.Get(), block, taken);
    if (written.status != FdioStatus::Ok) {
        if (logger.shownLines.First(kLineWriteFailed)) {
            FDIO_REPORT(written);
        }
        CloseLog(logger);
        Time_SleepUs(kRetryPauseUs);
        return;
    }
    // Bytes reached the file: the next failure is news again.
    logger.shownLines.ResetAll();
    logger.syncPending = true;
    SyncIfDue(logger);
}

void McuDlogger_Delete(McuDlogger **ppLogger) {
    TARN_ASSERT(ppLogger);
    if (*ppLogger == nullptr) {
        return;
    }
    DeleteHandles(**ppLogger);
    delete *ppLogger;
    *ppLogger = nullptr;
}

int McuDlogger_DoMain(const McuDloggerParam *pParam) {
    McuDlogger *pLogger = nullptr;
    if (McuDlogger_Create(&pLogger, pParam) != 0) {
        return -1;
    }
    for (;;) {
        McuDlogger_Step(pLogger);
    }
}

int Main_McuDlogger(int argc, char *argv[]) {
    if (argc < 2) {
        Usage();
        return 0;
    }
    McuDloggerParam param = {"/tmp", "mcudlog", -1};
    optind = 1;
    opterr = 1;
    for (int option = getopt(argc, argv, kOptions); option != -1; option = getopt(argc, argv, kOptions)) {
        switch (option) {
            case 'd':
                param.pDir = optarg;
                break;
            case 'f':
                param.pFix = optarg;
                break;
            case 'u': {
                // Anything but a whole number is no port.
                char *end = nullptr;
                const long port = strtol(optarg, &end, 10);
                param.port = *optarg != '\0' && *end == '\0' && port >= INT32_MIN && port <= INT32_MAX
                                 ? static_cast<int32_t>(port)
                                 : -1;
                break;
            }
            case 'h':
                Usage();
                return 0;
            default:
                break;
        }
    }
    McuDlogger_DoMain(&param);
    return 0;
}
