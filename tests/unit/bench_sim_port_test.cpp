// The simulated serial line as a module under test sees it: through /dev/ttySn of the test's own sandbox.
#include <gtest/gtest.h>

#include <chrono>
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "tarn_bench_namespace.h"
#include "tarn_bench_sim_port.h"

namespace {

using tarn::bench::PortSide;
using tarn::bench::SimPort;
using Clock = std::chrono::steady_clock;

long MsSince(Clock::time_point start) {
    return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

// The tool's end of a line, opened the way the serial module opens it.
class ToolEnd {
public:
    explicit ToolEnd(const char *device) : fd_(open(device, O_RDWR | O_NOCTTY)) {}
    ~ToolEnd() { Close(); }
    bool IsOpen() const { return fd_ >= 0; }
    void Close() {
        if (fd_ >= 0) {
            close(fd_);
            fd_ = -1;
        }
    }
    void Send(const std::vector<uint8_t> &bytes) {
        ASSERT_EQ(write(fd_, bytes.data(), bytes.size()), ssize_t(bytes.size()));
    }
    // Reads count bytes; a silence of 10 s ends it with what came.
    std::vector<uint8_t> Receive(size_t count) {
        std::vector<uint8_t> bytes(count);
        size_t done = 0;
        while (done < count) {
            pollfd readable{fd_, POLLIN, 0};
            if (poll(&readable, 1, 10000) != 1) {
                break;
            }
            const ssize_t got = read(fd_, bytes.data() + done, count - done);
            if (got <= 0) {
                break;
            }
            done += static_cast<size_t>(got);
        }
        bytes.resize(done);
        return bytes;
    }

private:
    int fd_;
};

class SimPortTest : public testing::Test {
protected:
    void SetUp() override {
        port_ = SimPort::Create();
        ASSERT_NE(port_, nullptr);
        ASSERT_EQ(tarn::bench::AttachSerialDevice(0, *port_), 0);
    }
    std::unique_ptr<SimPort> port_;
};

// Control characters, CR and LF must cross unchanged in both directions: a cooked line would mangle frames.
TEST_F(SimPortTest, CarriesEveryByteValueUnchangedBothWays) {
    ToolEnd tool("/dev/ttyS0");
    ASSERT_TRUE(tool.IsOpen());
    std::vector<uint8_t> allValues(256);
    for (size_t value = 0; value < allValues.size(); ++value) {
        allValues[value] = static_cast<uint8_t>(value);
    }
    tool.Send(allValues);
    std::vector<uint8_t> atMaster(256);
    ASSERT_EQ(port_->ReadExact(atMaster.data(), atMaster.size(), 10000), 256);
    EXPECT_EQ(atMaster, allValues);

    ASSERT_EQ(port_->Write(allValues), 256);
    EXPECT_EQ(tool.Receive(256), allValues);
}

TEST_F(SimPortTest, ToolClosingItsEndIsNoHangUp) {
    {
        ToolEnd first("/dev/ttyS0");
        ASSERT_TRUE(first.IsOpen());
        first.Send({0x55});
    }
    uint8_t byte = 0;
    EXPECT_EQ(port_->Read(&byte, 1, 10000), 1);
    EXPECT_EQ(byte, 0x55);
    const Clock::time_point start = Clock::now();
    EXPECT_EQ(port_->Read(&byte, 1, 100), 0) << "a closed tool end must read as silence, not as an error";
    EXPECT_GE(MsSince(start), 90) << "a hang-up would wake the reader at once";

    // What the simulator sends while nobody has the line open waits for the next opener.
    ASSERT_EQ(port_->Write({0xA5, 0x5A}), 2);
    ToolEnd second("/dev/ttyS0");
    EXPECT_EQ(second.Receive(2), (std::vector<uint8_t>{0xA5, 0x5A}));
}

TEST_F(SimPortTest, ReadWaitsForItsTimeOutAndReturnsShortReadsAtOnce) {
    ToolEnd tool("/dev/ttyS0");
    uint8_t buffer[16];
    Clock::time_point start = Clock::now();
    EXPECT_EQ(port_->Read(buffer, sizeof buffer, 300), 0);
    EXPECT_GE(MsSince(start), 290);
    EXPECT_LT(MsSince(start), 3000);

    tool.Send({1, 2, 3});
    start = Clock::now();
    EXPECT_EQ(port_->Read(buffer, sizeof buffer, 5000), 3);
    EXPECT_LT(MsSince(start), 2500);

    tool.Send({4, 5});
    EXPECT_EQ(port_->ReadExact(buffer, 4, 300), 2) << "ReadExact gives what came when its time runs out";
}

TEST_F(SimPortTest, PacedWritesTakeTheirLineTime) {
    ToolEnd tool("/dev/ttyS0");
    port_->SetLineRate(tarn::bench::kLineRate115200);
    const std::vector<uint8_t> block(1152, 0x7E); // 100 ms of line time
    const Clock::time_point start = Clock::now();
    ASSERT_EQ(port_->Write(block), 1152);
    EXPECT_GE(MsSince(start), 95);
    EXPECT_LT(MsSince(start), 2000);
    EXPECT_EQ(tool.Receive(block.size()), block);
}

// At 100 bytes a second each byte is 10 ms of line: a reply byte reaches the tool when it could have arrived,
// and a second write queues behind the first instead of starting its own schedule.
TEST_F(SimPortTest, PacedWritesArriveOnOneScheduleAcrossWrites) {
    ToolEnd tool("/dev/ttyS0");
    port_->SetLineRate(100);
    const Clock::time_point start = Clock::now();
    std::thread writer([this] {
        EXPECT_EQ(port_->Write({0x41}), 1);
        EXPECT_EQ(port_->Write({0x42}), 1);
    });
    EXPECT_EQ(tool.Receive(1), (std::vector<uint8_t>{0x41}));
    const long first = MsSince(start);
    EXPECT_EQ(tool.Receive(1), (std::vector<uint8_t>{0x42}));
    const long second = MsSince(start);
    writer.join();
    EXPECT_GE(first, 9) << "the byte was on the line for 10 ms";
    EXPECT_GE(second, 19) << "the second write waited for the line";
    EXPECT_LT(second, 3000);
}

// The tool's bytes are handed over when the last of them could have crossed the line, and bytes the tool
// writes while the line is still busy queue behind the ones before.
TEST_F(SimPortTest, PacedReadsWaitForTheToolsBytesToCross) {
    ToolEnd tool("/dev/ttyS0");
    port_->SetLineRate(1000);
    uint8_t buffer[64];
    const Clock::time_point start = Clock::now();
    tool.Send(std::vector<uint8_t>(30, 0x11));
    tool.Send(std::vector<uint8_t>(30, 0x22));
    ASSERT_EQ(port_->ReadExact(buffer, 60, 5000), 60);
    EXPECT_GE(MsSince(start), 59);
    EXPECT_LT(MsSince(start), 3000);
    EXPECT_EQ(buffer[59], 0x22);
}

TEST(LineFloor, CountsEveryByteBothWaysAtTheLineRateAndAddsTheWaits) {
    std::vector<tarn::bench::PortLogEntry> log;
    for (int exchange = 0; exchange < 1000; ++exchange) {
        log.push_back({PortSide::Tool, Clock::now(), std::vector<uint8_t>(63, 0x27)});
        log.push_back({PortSide::Simulator, Clock::now(), {0x12, 0x10}});
    }
    const tarn::bench::LineFloor floor = tarn::bench::FloorOf(log, 11520, std::chrono::seconds(16));
    EXPECT_EQ(floor.toolBytes, 63000u);
    EXPECT_EQ(floor.simulatorBytes, 2000u);
    // 65,000 bytes at 11,520 bytes a second.
    EXPECT_NEAR(std::chrono::duration<double>(floor.wire).count(), 5.6424, 0.0001);
    EXPECT_EQ(floor.Total(), floor.wire + std::chrono::seconds(16));
    const std::string text = tarn::bench::DescribeFloor(floor, 11520, floor.Total() * 21 / 20);
    EXPECT_EQ(text.rfind("floor 21.64 s (63000 bytes from the tool, 2000 to it", 0), 0u) << text;
    EXPECT_NE(text.find("= 1.050x the floor"), std::string::npos) << text;
}

TEST_F(SimPortTest, LogKeepsEachSideInOrderWithRisingTimes) {
    ToolEnd tool("/dev/ttyS0");
    ASSERT_EQ(port_->Write({0x10}), 1);
    tool.Send({0x20, 0x21});
    uint8_t buffer[2];
    ASSERT_EQ(port_->ReadExact(buffer, 2, 10000), 2);
    ASSERT_EQ(port_->Write({0x30}), 1);

    const std::vector<tarn::bench::PortLogEntry> log = port_->Log();
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[0].side, PortSide::Simulator);
    EXPECT_EQ(log[1].side, PortSide::Tool);
    EXPECT_EQ(log[2].side, PortSide::Simulator);
    EXPECT_LE(log[0].at, log[1].at);
    EXPECT_LE(log[1].at, log[2].at);
    EXPECT_EQ(port_->BytesFrom(PortSide::Simulator), (std::vector<uint8_t>{0x10, 0x30}));
    EXPECT_EQ(port_->BytesFrom(PortSide::Tool), (std::vector<uint8_t>{0x20, 0x21}));
}

TEST(UnitTestSandbox, HasItsOwnDevAndAnEmptyTmp) {
    const int fd = open("/dev/null", O_WRONLY);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(write(fd, "x", 1), 1);
    close(fd);

    struct stat info {};
    ASSERT_EQ(stat("/dev/ttyS4", &info), 0);
    EXPECT_TRUE(S_ISREG(info.st_mode)) << "an unconnected line is a plain mount point";
    ASSERT_EQ(lstat("/dev/ptmx", &info), 0);
    EXPECT_TRUE(S_ISLNK(info.st_mode));
    EXPECT_NE(stat("/dev/shm", &info), 0) << "host devices must not show through";

    DIR *tmp = opendir("/tmp");
    ASSERT_NE(tmp, nullptr);
    std::vector<std::string> entries;
    while (const dirent *entry = readdir(tmp)) {
        if (std::string(entry->d_name) != "." && std::string(entry->d_name) != "..") {
            entries.push_back(entry->d_name);
        }
    }
    closedir(tmp);
    EXPECT_TRUE(entries.empty()) << entries.front();
}

TEST(UnitTestSandbox, ReattachingALineReplacesOneWhoseSlaveIsGone) {
    std::unique_ptr<SimPort> first = SimPort::Create();
    ASSERT_NE(first, nullptr);
    ASSERT_EQ(tarn::bench::AttachSerialDevice(3, *first), 0);
    first.reset();
    const std::unique_ptr<SimPort> second = SimPort::Create();
    ASSERT_NE(second, nullptr);
    ASSERT_EQ(tarn::bench::AttachSerialDevice(3, *second), 0);
    ToolEnd tool("/dev/ttyS3");
    ASSERT_TRUE(tool.IsOpen());
    tool.Send({0x42});
    uint8_t byte = 0;
    EXPECT_EQ(second->Read(&byte, 1, 10000), 1);
    EXPECT_EQ(byte, 0x42);
}

TEST(UnitTestSandbox, RefusesASerialDeviceOutsideTheBench) {
    const std::unique_ptr<SimPort> port = SimPort::Create();
    ASSERT_NE(port, nullptr);
    EXPECT_EQ(tarn::bench::AttachSerialDevice(5, *port), -1);
}

} // namespace
