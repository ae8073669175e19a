// Descriptor I/O of the upgraders: exact reads with bounded waits, complete writes, draining, raw serial set-up.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <fcntl.h>
#include <pty.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "console_capture.h"
#include "tarn_fdio.h"
#include "tarn_time.h"

namespace {

// The waits below are counted in whole milliseconds of Time_GetMs; measured on the same clock from before the
// call, a limit of N ms reads at least N, where another clock could read N - 1.
class ProductStopwatch {
public:
    uint32_t ElapsedMs() const { return Time_GetMs() - start_; }

private:
    const uint32_t start_ = Time_GetMs();
};

class Pipe {
public:
    Pipe() { EXPECT_EQ(0, pipe(fds_)); }
    ~Pipe() {
        CloseWriter();
        close(fds_[0]);
    }
    int Reader() const { return fds_[0]; }
    int Writer() const { return fds_[1]; }
    void CloseWriter() {
        if (fds_[1] >= 0) {
            close(fds_[1]);
            fds_[1] = -1;
        }
    }

private:
    int fds_[2] = {-1, -1};
};

TEST(FdioReadExact, GathersPiecesUntilTheCountIsComplete) {
    Pipe line;
    std::thread sender([&line] {
        const uint8_t first[] = {1, 2};
        const uint8_t second[] = {3, 4, 5};
        EXPECT_EQ(2, write(line.Writer(), first, sizeof(first)));
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        EXPECT_EQ(3, write(line.Writer(), second, sizeof(second)));
    });
    uint8_t buffer[5] = {};
    const FdioResult result = Fdio_ReadExact(line.Reader(), buffer, sizeof(buffer), 10000);
    sender.join();
    EXPECT_EQ(FdioStatus::Ok, result.status);
    EXPECT_EQ((std::vector<uint8_t>{1, 2, 3, 4, 5}), std::vector<uint8_t>(buffer, buffer + 5));
}

TEST(FdioReadExact, EachWaitIsBoundedOnItsOwn) {
    Pipe line;
    const uint8_t some = 7;
    ASSERT_EQ(1, write(line.Writer(), &some, 1));
    uint8_t buffer[2] = {};
    const ProductStopwatch watch;
    const FdioResult result = Fdio_ReadExact(line.Reader(), buffer, sizeof(buffer), 300);
    const uint32_t waited = watch.ElapsedMs();
    EXPECT_EQ(FdioStatus::TimedOut, result.status);
    EXPECT_GE(waited, 300u);
    EXPECT_LT(waited, 5000u);

    // A closed writer is an end of file, not data: the wait still ends on time instead of spinning for ever.
    line.CloseWriter();
    const ProductStopwatch eofWatch;
    EXPECT_EQ(FdioStatus::TimedOut, Fdio_ReadExact(line.Reader(), buffer, 1, 200).status);
    const uint32_t eofWaited = eofWatch.ElapsedMs();
    EXPECT_GE(eofWaited, 200u);
    EXPECT_LT(eofWaited, 5000u);
}

TEST(FdioReadExact, FailuresNameTheCallAndPrintAtTheCaller) {
    uint8_t buffer[1] = {};
    const int closed = dup(STDIN_FILENO);
    close(closed);
    const FdioResult result = Fdio_ReadExact(closed, buffer, 1, 100);
    EXPECT_EQ(FdioStatus::Failed, result.status);
    EXPECT_STREQ("read", result.failedCall);
    EXPECT_EQ(EBADF, result.error);

    StdoutCapture capture;
    FDIO_REPORT(result);
    FDIO_REPORT((FdioResult{FdioStatus::TimedOut, nullptr, 0}));
    FDIO_REPORT((FdioResult{FdioStatus::Ok, nullptr, 0}));
    const std::string printed = capture.Finish();
    EXPECT_EQ(SyserrLine("read", strerror(EBADF)) + WarnLine("read timeout.\n"), WithoutLocations(printed));
    EXPECT_NE(std::string::npos, printed.find("(fdio_test.cpp|TestBody|"))
        << "the caller's function is the printing place: " << printed;
}

TEST(FdioWriteAll, WritesEveryByteThroughPartialWrites) {
    Pipe line;
    // Larger than a pipe holds, so write returns short while the reader drains.
    std::vector<uint8_t> sent(256 * 1024);
    for (size_t index = 0; index < sent.size(); ++index) {
        sent[index] = static_cast<uint8_t>(index * 7);
    }
    std::vector<uint8_t> received;
    std::thread reader([&] {
        uint8_t chunk[4096];
        ssize_t got = 0;
        while ((got = read(line.Reader(), chunk, sizeof(chunk))) > 0) {
            received.insert(received.end(), chunk, chunk + got);
        }
    });
    EXPECT_EQ(FdioStatus::Ok, Fdio_WriteAll(line.Writer(), sent.data(), sent.size()).status);
    line.CloseWriter();
    reader.join();
    EXPECT_EQ(sent, received);

    const FdioResult failed = Fdio_WriteAll(-1, sent.data(), 1);
    EXPECT_EQ(FdioStatus::Failed, failed.status);
    EXPECT_STREQ("write", failed.failedCall);
}

// The drain reads through a receive of the caller's shape; these tests give it one over a pipe. Its wait is
// long against the chatter's 10 ms steps, so a loaded machine cannot make the chatter look like silence.
int g_drainFd = -1;
std::atomic<int> g_drained{0};

int ReceiveForDrain(uint8_t *buffer, uint32_t count) {
    if (Fdio_ReadExact(g_drainFd, buffer, count, 2000).status != FdioStatus::Ok) {
        return -1;
    }
    g_drained += static_cast<int>(count);
    return 0;
}

TEST(FdioDrain, EndsWhenTheLineFallsSilent) {
    Pipe line;
    g_drainFd = line.Reader();
    g_drained = 0;
    const uint8_t leftovers[5] = {9, 9, 9, 9, 9};
    ASSERT_EQ(5, write(line.Writer(), leftovers, sizeof(leftovers)));
    EXPECT_FALSE(Fdio_DrainUntilSilent(ReceiveForDrain, 10000));
    EXPECT_EQ(5, g_drained.load());
}

TEST(FdioDrain, EndsAtItsLimitWhenTrafficNeverStops) {
    Pipe line;
    g_drainFd = line.Reader();
    std::atomic<bool> talking{true};
    std::thread chatter([&] {
        const uint8_t byte = 0x55;
        while (talking) {
            EXPECT_EQ(1, write(line.Writer(), &byte, 1));
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    });
    const ProductStopwatch watch;
    EXPECT_TRUE(Fdio_DrainUntilSilent(ReceiveForDrain, 400));
    const uint32_t elapsed = watch.ElapsedMs();
    talking = false;
    chatter.join();
    EXPECT_GE(elapsed, 400u);
    EXPECT_LT(elapsed, 5000u);
}

TEST(FdioOpenSerial, SetsRaw8N1AtTheRequestedSpeed) {
    int master = -1;
    int slave = -1;
    char slavePath[64] = {};
    ASSERT_EQ(0, openpty(&master, &slave, slavePath, nullptr, nullptr));
    int fd = -1;
    ASSERT_EQ(FdioStatus::Ok, Fdio_OpenSerial(slavePath, 115200, &fd).status);
    termios options{};
    ASSERT_EQ(0, tcgetattr(fd, &options));
    EXPECT_EQ(B115200, cfgetospeed(&options));
    EXPECT_EQ(B115200, cfgetispeed(&options));
    EXPECT_EQ(static_cast<tcflag_t>(CS8), options.c_cflag & CSIZE);
    EXPECT_EQ(0u, options.c_cflag & (PARENB | CSTOPB | CRTSCTS));
    EXPECT_EQ(0u, options.c_lflag & (ICANON | ECHO | ISIG));
    EXPECT_EQ(0u, options.c_iflag);
    EXPECT_EQ(0u, options.c_oflag);
    EXPECT_EQ(0, fcntl(fd, F_GETFL) & O_NONBLOCK) << "reads and writes block";

    // Raw: a carriage return and a ^C pass through untouched.
    const uint8_t bytes[] = {0x0D, 0x03, 0xFE};
    ASSERT_EQ(3, write(master, bytes, sizeof(bytes)));
    uint8_t received[3] = {};
    EXPECT_EQ(FdioStatus::Ok, Fdio_ReadExact(fd, received, sizeof(received), 10000).status);
    EXPECT_EQ(0, memcmp(bytes, received, sizeof(bytes)));

    close(fd);
    int refused = -1;
    const FdioResult badSpeed = Fdio_OpenSerial(slavePath, 38400, &refused);
    EXPECT_EQ(FdioStatus::Failed, badSpeed.status);
    EXPECT_STREQ("cfsetspeed", badSpeed.failedCall);
    EXPECT_EQ(-1, refused);
    close(slave);
    close(master);

    const FdioResult missing = Fdio_OpenSerial("/dev/no-such-line", 115200, &refused);
    EXPECT_EQ(FdioStatus::Failed, missing.status);
    EXPECT_STREQ("open", missing.failedCall);
    EXPECT_EQ(ENOENT, missing.error);
}

TEST(FdioOpenSerial, LineThatAnotherProcessHoldsIsRefusedUntouchedUntilItsHolderEnds) {
    int master = -1;
    int slave = -1;
    char slavePath[64] = {};
    ASSERT_EQ(0, openpty(&master, &slave, slavePath, nullptr, nullptr));
    Pipe held;
    Pipe release;
    const pid_t holder = fork();
    ASSERT_GE(holder, 0);
    if (holder == 0) {
        release.CloseWriter();
        int fd = -1;
        const char ready = Fdio_OpenSerial(slavePath, 115200, &fd).status == FdioStatus::Ok ? 'y' : 'n';
        char ignored = 0;
        _exit(write(held.Writer(), &ready, 1) == 1 && read(release.Reader(), &ignored, 1) >= 0 ? 0 : 1);
    }
    held.CloseWriter();
    char ready = 0;
    ASSERT_EQ(1, read(held.Reader(), &ready, 1));
    ASSERT_EQ('y', ready);

    int refused = -1;
    const FdioResult busy = Fdio_OpenSerial(slavePath, 9600, &refused);
    EXPECT_TRUE(Fdio_LineInUse(busy));
    EXPECT_STREQ("flock", busy.failedCall);
    EXPECT_EQ(-1, refused);
    termios options{};
    ASSERT_EQ(0, tcgetattr(slave, &options));
    EXPECT_EQ(B115200, cfgetospeed(&options)) << "the refused open left the holder's speed alone";
    StdoutCapture capture;
    FDIO_REPORT_OPEN(busy, "/dev/ttyS2");
    EXPECT_EQ(ErrorLine("/dev/ttyS2 is in use.\n"), WithoutLocations(capture.Finish()));

    // The lock goes with the holder's descriptor.
    release.CloseWriter();
    int status = 0;
    ASSERT_EQ(holder, waitpid(holder, &status, 0));
    int fd = -1;
    EXPECT_EQ(FdioStatus::Ok, Fdio_OpenSerial(slavePath, 9600, &fd).status);
    close(fd);
    close(slave);
    close(master);
}

} // namespace
