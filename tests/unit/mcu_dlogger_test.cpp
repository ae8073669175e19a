// mcu_dlogger against the bench's log source on a pseudo-terminal, with the SD card played in the test's own
// mount namespace: numbering, card presence, the queue while there is no card, quiet retries, a hung-up line,
// and a line-rate stream across card removals.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "console_capture.h"
#include "tarn_bench_namespace.h"
#include "tarn_bench_sim_mcu_log.h"
#include "tarn_bench_sim_port.h"
#include "tarn_commands.h"
#include "tarn_mcu_dlogger.h"
#include "test_support.h"

namespace {

using namespace std::chrono_literals;
using tarn::bench::McuLogSimulator;
using tarn::bench::SentChunk;
using tarn::bench::SimPort;
using test_support::Clock;
using test_support::WaitUntil;

constexpr int kPort = 1;
constexpr size_t kQueueSize = 16384;
// The card's files live on a file system of their own, so a removed card keeps them for its next insertion.
constexpr const char kCardStore[] = "/tmp/card";
constexpr const char kCardMount[] = "/tmp/SD0";
constexpr const char kCardDevice[] = "/dev/mmcblk0";

std::string ReadFile(const std::string &path) {
    std::ifstream file(path, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

off_t FileSize(const std::string &path) {
    struct stat status = {};
    return stat(path.c_str(), &status) == 0 ? status.st_size : -1;
}

std::string Pattern(uint64_t offset, size_t count) {
    std::string bytes(count, '\0');
    for (size_t index = 0; index < count; ++index) {
        bytes[index] = static_cast<char>(McuLogSimulator::PatternByte(offset + index));
    }
    return bytes;
}

// The number of the last whole line of the pattern in a recording, -1 when there is none.
int64_t LastWholeLine(const std::string &recorded) {
    for (size_t at = recorded.size() >= 16 ? recorded.size() - 16 : 0; at + 16 <= recorded.size(); --at) {
        unsigned long long number = 0;
        if (recorded[at] == 'L' && sscanf(recorded.c_str() + at, "L%10llu", &number) == 1 &&
            recorded.compare(at, 16, Pattern(number * 16, 16)) == 0) {
            return static_cast<int64_t>(number);
        }
        if (at == 0) {
            break;
        }
    }
    return -1;
}

size_t Occurrences(const std::string &text, const std::string &part) {
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) {
        ++count;
    }
    return count;
}

double ProcessCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

class McuDloggerTest : public testing::Test {
protected:
    void SetUp() override {
        port_ = SimPort::Create();
        ASSERT_TRUE(port_);
        ASSERT_EQ(0, tarn::bench::AttachSerialDevice(kPort, *port_));
        ASSERT_EQ(0, mkdir(kCardStore, 0755));
        ASSERT_EQ(0, mount("card", kCardStore, "tmpfs", 0, "size=64m")) << strerror(errno);
        ASSERT_EQ(0, mkdir(kCardMount, 0755));
    }

    void TearDown() override {
        stop_ = true;
        if (runner_.joinable()) {
            runner_.join();
        }
        if (pLogger_ != nullptr) {
            McuDlogger_Delete(&pLogger_);
        }
        if (source_) {
            source_->Stop();
        }
    }

    void StartSource(uint32_t bytesPerSecond = tarn::bench::kLineRate115200) {
        source_ = std::make_unique<McuLogSimulator>(*port_, bytesPerSecond);
        ASSERT_EQ(0, source_->Start());
    }

    // The recorder's own loop, on a thread of the test's, counting its passes.
    void StartRecorder(const char *dir, const char *fix) {
        const McuDloggerParam param = {dir, fix, kPort};
        ASSERT_EQ(0, McuDlogger_Create(&pLogger_, &param));
        runner_ = std::thread([this] {
            while (!stop_) {
                McuDlogger_Step(pLogger_);
                ++steps_;
            }
        });
    }

    // Waits until the recorder has finished two more passes: it has looked at the card since now.
    void WaitForTwoSteps() {
        const uint64_t seen = steps_;
        ASSERT_TRUE(WaitUntil([&] { return steps_ >= seen + 2; }));
    }

    static void PlugDevice() {
        const int fd = open(kCardDevice, O_CREAT | O_WRONLY, 0644);
        ASSERT_GE(fd, 0);
        close(fd);
    }
    static void MountCard() { ASSERT_EQ(0, mount(kCardStore, kCardMount, nullptr, MS_BIND, nullptr)); }
    static void InsertCard() {
        PlugDevice();
        MountCard();
    }
    static void RemoveCard() {
        ASSERT_EQ(0, unlink(kCardDevice));
        ASSERT_EQ(0, umount2(kCardMount, MNT_DETACH));
    }

    std::unique_ptr<SimPort> port_;
    std::unique_ptr<McuLogSimulator> source_;
    McuDlogger *pLogger_ = nullptr;
    std::thread runner_;
    std::atomic<bool> stop_{false};
    std::atomic<uint64_t> steps_{0};
};

TEST_F(McuDloggerTest, RefusesABadPortAndAPortInUse) {
    StdoutCapture capture;
    char name[] = "mcu_dlogger";
    char portOption[] = "-u";
    char badPort[] = "5";
    char *argv[] = {name, portOption, badPort, nullptr};
    EXPECT_EQ(0, Main_McuDlogger(3, argv));

    const int holder = open("/dev/ttyS1", O_RDWR | O_NOCTTY);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(0, flock(holder, LOCK_EX | LOCK_NB));
    const McuDloggerParam param = {kCardMount, "mculog", kPort};
    EXPECT_EQ(-1, McuDlogger_Create(&pLogger_, &param));
    EXPECT_EQ(nullptr, pLogger_);
    close(holder);
    const std::string output = WithoutLocations(capture.Finish());
    EXPECT_EQ(0u, output.find(ErrorLine("invalid uart port: 5.\n"))) << output;
    // The queue was made and is undone after the port's lines.
    EXPECT_NE(std::string::npos, output.find(ErrorLine("/dev/ttyS1 is in use.\n") + ErrorLine("uart init fail.\n") +
                                             ErrorLine("Uart_Create\n")))
        << output;
}

TEST_F(McuDloggerTest, NumbersAfterTheLargestAndAppendsToItAcrossACardChange) {
    ASSERT_EQ(0, system("touch /tmp/card/mculog_0001 /tmp/card/mculog_0007"));
    InsertCard();
    StdoutCapture capture;
    StartRecorder(kCardMount, "mculog");
    StartSource();
    const std::string file = std::string(kCardStore) + "/mculog_0008";
    ASSERT_TRUE(WaitUntil([&] { return FileSize(file) >= 2048; }));

    RemoveCard();
    WaitForTwoSteps();
    // A number chosen again would now be 10.
    ASSERT_EQ(0, system("touch /tmp/card/mculog_0009"));
    InsertCard();
    const std::string opened = InfoLine("open file '/tmp/SD0/mculog_0008' and begin to record log.\n");
    ASSERT_TRUE(WaitUntil([&] { return Occurrences(WithoutLocations(capture.SoFar()), opened) == 2; }))
        << capture.SoFar();
    const off_t before = FileSize(file);
    ASSERT_TRUE(WaitUntil([&] { return FileSize(file) > before + 2048; }));
    source_->SetPaused(true);

    EXPECT_EQ(0, FileSize(std::string(kCardStore) + "/mculog_0009"));
    EXPECT_EQ(-1, FileSize(std::string(kCardStore) + "/mculog_0010"));
    // Appended: the stream starts at its beginning and nothing was written over.
    const std::string recorded = ReadFile(file);
    EXPECT_EQ(Pattern(0, 2048), recorded.substr(0, 2048));
}

TEST_F(McuDloggerTest, DeviceNodeBeforeTheMountWritesNothingUntilTheCardIsMounted) {
    PlugDevice();
    StartRecorder(kCardMount, "mculog");
    StartSource();
    ASSERT_TRUE(WaitUntil([&] { return source_->SentCount() >= 4096; }));
    WaitForTwoSteps();
    // Nothing under the bare mount point, which lies in RAM.
    EXPECT_EQ(0, system("test -z \"$(ls -A /tmp/SD0)\""));

    MountCard();
    const std::string file = std::string(kCardStore) + "/mculog_0001";
    ASSERT_TRUE(WaitUntil([&] { return FileSize(file) >= 4096; }));
    // The bytes queued meanwhile come first.
    EXPECT_EQ(Pattern(0, 4096), ReadFile(file).substr(0, 4096));
}

TEST_F(McuDloggerTest, WithoutACardTheQueueKeepsItsFirst16384BytesThenDrops) {
    // At line rate: the recorder has a whole second of the line's own buffer to spare before the queue is
    // full, however loaded the machine. 64 KiB are more than the queue and that buffer hold together, so bytes
    // after the queue's were dropped, by the recorder or (had it been starved) by the line.
    StartRecorder(kCardMount, "mculog");
    StartSource();
    ASSERT_TRUE(WaitUntil([&] { return source_->SentCount() + source_->DroppedCount() >= 65536; }));
    InsertCard();
    const std::string file = std::string(kCardStore) + "/mculog_0001";
    ASSERT_TRUE(WaitUntil([&] { return FileSize(file) >= static_cast<off_t>(kQueueSize + 1024); }));

    const std::string recorded = ReadFile(file);
    EXPECT_EQ(Pattern(0, kQueueSize), recorded.substr(0, kQueueSize));
    // The next bytes come from later in the stream: what arrived while the queue was full was dropped.
    EXPECT_NE(Pattern(kQueueSize, 64), recorded.substr(kQueueSize, 64));
}

TEST_F(McuDloggerTest, RetriesQuietlyAndAHungUpLineDoesNotSpin) {
    InsertCard();
    StdoutCapture capture;
    StartRecorder("/tmp/SD0/LOGS", "mculog");
    StartSource();
    ASSERT_TRUE(WaitUntil([&] { return source_->SentCount() >= 2048; }));
    WaitForTwoSteps();
    WaitForTwoSteps();
    ASSERT_EQ(0, mkdir("/tmp/card/LOGS", 0755));
    const std::string file = std::string(kCardStore) + "/LOGS/mculog_0001";
    ASSERT_TRUE(WaitUntil([&] { return FileSize(file) > 0; }));

    source_->HangUp();
    ASSERT_TRUE(WaitUntil([&] { return port_->HungUp(); }));
    const double cpuBefore = ProcessCpuSeconds();
    const Clock::time_point start = Clock::now();
    WaitForTwoSteps();
    std::this_thread::sleep_for(std::chrono::milliseconds(1000) - (Clock::now() - start));
    const double cpuUsed = ProcessCpuSeconds() - cpuBefore;
    const double wall = std::chrono::duration<double>(Clock::now() - start).count();

    const std::string output = WithoutLocations(capture.Finish());
    EXPECT_EQ(1u, Occurrences(output, SyserrLine("open", "No such file or directory"))) << output;
    EXPECT_EQ(1u, Occurrences(output, "open file '/tmp/SD0/LOGS/mculog_0001' and begin to record log.")) << output;
    EXPECT_EQ(0u, Occurrences(output, "uart read fail.")) << output;
    // A spinning thread would burn the whole second.
    EXPECT_LT(cpuUsed, 0.25 * wall) << cpuUsed << " s of CPU in " << wall << " s";
}

// Line-rate minute with two removals, one longer than the queue can bridge (1.4 s at line rate) and one
// shorter. Every line sent outside the windows from removal to the pass that finds the card again must be in
// the file, once and in order; inside them, lines may be missing but never repeated or reordered.
class McuDloggerSlow : public McuDloggerTest {};

TEST_F(McuDloggerSlow, LineRateMinuteWithTwoRemovalsLosesNothingOutsideTheWindows) {
    InsertCard();
    StdoutCapture capture;
    StartRecorder(kCardMount, "mculog");
    StartSource();
    const Clock::time_point begin = Clock::now();
    const std::string file = std::string(kCardStore) + "/mculog_0001";
    // A window opens with the first line not yet in the file when the card goes (a loaded machine has more on
    // its way) and closes when the test sees the file opened again.
    struct Window {
        int64_t firstLine;
        Clock::time_point end;
    };
    std::vector<Window> windows;
    const std::string opened = InfoLine("open file '/tmp/SD0/mculog_0001' and begin to record log.\n");
    for (const auto &[at, absent] : {std::pair{15s, 3000ms}, std::pair{40s, 500ms}}) {
        std::this_thread::sleep_until(begin + at);
        const size_t opensBefore = Occurrences(WithoutLocations(capture.SoFar()), opened);
        windows.push_back({LastWholeLine(ReadFile(file)) + 1, Clock::time_point{}});
        RemoveCard();
        std::this_thread::sleep_for(absent);
        InsertCard();
        ASSERT_TRUE(WaitUntil([&] { return Occurrences(WithoutLocations(capture.SoFar()), opened) > opensBefore; }));
        windows.back().end = Clock::now();
    }
    std::this_thread::sleep_until(begin + 60s);
    source_->SetPaused(true);
    off_t last = -1;
    // Settled once it has not grown for half a second.
    ASSERT_TRUE(WaitUntil([&] {
        const bool settled = FileSize(file) == last;
        last = FileSize(file);
        std::this_thread::sleep_for(500ms);
        return settled;
    }));
    capture.Finish();
    const std::vector<SentChunk> chunks = source_->Sent();

    // The file's whole lines, by number; a line cut by a drop is skipped. Where a drop removed a multiple of 16
    // bytes, the head of one line and the tail of a later one read as a whole third line (the first digits of
    // the one, the last of the other): a line counts only where it continues the line before it or the line
    // after it continues it, as the stream's own lines do.
    const std::string recorded = ReadFile(file);
    std::vector<bool> present((chunks.back().offset + chunks.back().count) / 16 + 1, false);
    auto lineAt = [&](size_t at) -> std::optional<uint64_t> {
        unsigned long long number = 0;
        if (at + 16 <= recorded.size() && sscanf(recorded.c_str() + at, "L%10llu", &number) == 1 &&
            number < present.size() && recorded.compare(at, 16, Pattern(number * 16, 16)) == 0) {
            return number;
        }
        return std::nullopt;
    };
    std::optional<uint64_t> previous;
    size_t previousEnd = 0;
    bool ordered = true;
    for (size_t at = 0; at + 16 <= recorded.size();) {
        const std::optional<uint64_t> number = lineAt(at);
        const bool continues = number && previous && previousEnd == at && *number == *previous + 1;
        const std::optional<uint64_t> next = number ? lineAt(at + 16) : std::nullopt;
        const bool continued = number && (at + 16 == recorded.size() || (next && *next == *number + 1));
        if (number && (continues || continued)) {
            ordered = ordered && (!previous || *number > *previous);
            previous = number;
            previousEnd = at + 16;
            present[*number] = true;
            at += 16;
        } else {
            ++at;
        }
    }
    EXPECT_TRUE(ordered) << "lines repeated or out of order";

    // Each line is judged when the line has carried (or dropped) its last byte; it was sent inside a window
    // when it comes at or after the window's first line and its first byte was sent before the window closed.
    // Bytes the line dropped count at the time it took bytes again.
    auto inWindow = [&](uint64_t number, Clock::time_point at) {
        return std::any_of(windows.begin(), windows.end(), [&](const Window &window) {
            return static_cast<int64_t>(number) >= window.firstLine && at <= window.end;
        });
    };
    uint64_t lost[2] = {0, 0}; // outside, inside
    std::string lostOutside;
    uint64_t line = 0;
    std::optional<Clock::time_point> lineStart;
    for (const SentChunk &chunk : chunks) {
        for (; (line + 1) * 16 <= chunk.offset + chunk.count; ++line) {
            const Clock::time_point startAt = line * 16 >= chunk.offset ? chunk.at : lineStart.value_or(chunk.at);
            lineStart.reset();
            const bool inside = inWindow(line, startAt);
            lost[inside ? 1 : 0] += present[line] ? 0 : 16;
            if (!inside && !present[line] && lostOutside.size() < 400) {
                lostOutside += " line " + std::to_string(line) + " sent at " +
                               std::to_string(std::chrono::duration<double>(startAt - begin).count()) + " s;";
            }
        }
        if (line * 16 >= chunk.offset) {
            lineStart = chunk.at;
        }
    }
    printf("sent %llu bytes; lost outside the windows %llu, inside %llu\n",
           static_cast<unsigned long long>(source_->SentCount()), static_cast<unsigned long long>(lost[0]),
           static_cast<unsigned long long>(lost[1]));
    std::string windowText;
    for (const Window &window : windows) {
        windowText += " from line " + std::to_string(window.firstLine) + " to " +
                      std::to_string(std::chrono::duration<double>(window.end - begin).count()) + " s;";
    }
    EXPECT_EQ(0u, lost[0]) << "lost:" << lostOutside << " windows:" << windowText;
}

} // namespace
