// uart_debug, installed, against a bare pseudo-terminal: the bytes it sends and the groups it prints.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <sys/syscall.h>
#include <thread>
#include <vector>

#include "bench_fixture.h"
#include "console_lines.h"
#include "tarn_bench_sim_port.h"
#include "test_support.h"

namespace {

using namespace bench_test;
using Bytes = std::vector<uint8_t>;
using tarn::bench::PortSide;
using tarn::bench::SimPort;

// True while the process sits in a wait for input (poll or select): it has opened and set up its line.
bool WaitsForInput(pid_t id) {
    std::ifstream syscall("/proc/" + std::to_string(id) + "/syscall");
    long number = -1;
    return syscall >> number && (number == SYS_ppoll || number == SYS_pselect6
#ifdef SYS_poll
                                 || number == SYS_poll
#endif
#ifdef SYS_select
                                 || number == SYS_select
#endif
                                );
}

class UartDebugTest : public BenchTest {
protected:
    void SetUp() override {
        BenchTest::SetUp();
        port1_ = SimPort::Create();
        port2_ = SimPort::Create();
        ASSERT_TRUE(port1_ && port2_);
        Bench().Settings().serial = {};
        Bench().Settings().serial[1] = port1_.get();
        Bench().Settings().serial[2] = port2_.get();
    }

    // Waits at most 10 s for the tool's stdout to hold count newlines.
    std::string WaitForLines(size_t count) {
        const auto deadline = std::chrono::steady_clock::now() + 10s;
        std::string out = Bench().Stdout();
        while (static_cast<size_t>(std::count(out.begin(), out.end(), '\n')) < count &&
               std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(10ms);
            out = Bench().Stdout();
        }
        return out;
    }

    // What the tool wrote, read off the line (up to count bytes), then nothing more within 100 ms.
    static Bytes Received(SimPort &port, size_t count) {
        Bytes bytes(count + 1);
        const int got = port.ReadExact(bytes.data(), bytes.size(), 100);
        bytes.resize(got < 0 ? 0 : static_cast<size_t>(got));
        return bytes;
    }

    std::unique_ptr<SimPort> port1_;
    std::unique_ptr<SimPort> port2_;
};

TEST_F(UartDebugTest, SendsEveryNumberFormInCommandLineOrder) {
    const ToolRun run = Run("uart_debug", {"-s", "0x55 85  0125 ", "-p", "2", "-b", "9600", "-s", "0x01 2 0x3 0x1ff"});
    EXPECT_EQ(0, run.exitStatus);
    EXPECT_EQ("", run.out);
    // -s before -p used port 1; blanks add nothing; a wide value keeps its low 8 bits.
    EXPECT_EQ((Bytes{0x55, 0x55, 0x55}), Received(*port1_, 3));
    EXPECT_EQ((Bytes{0x01, 0x02, 0x03, 0xff}), Received(*port2_, 4));
}

TEST_F(UartDebugTest, APieceThatIsNoNumberRefusesTheWholeSend) {
    for (const std::string text : {"1 zz 3", "0x", "12abc", "-1"}) {
        const ToolRun run = Run("uart_debug", {"-s", text});
        EXPECT_EQ(0, run.exitStatus);
        const std::string piece = text == "1 zz 3" ? "zz" : text;
        EXPECT_EQ(ErrorLine("invalid data: " + piece + ".\n"), WithoutLocations(run.out)) << text;
    }
    EXPECT_TRUE(Received(*port1_, 0).empty());
}

TEST_F(UartDebugTest, AMissingPortFailsTheCreation) {
    const ToolRun run = Run("uart_debug", {"-p", "5", "-s", "1", "-r"});
    EXPECT_EQ(0, run.exitStatus);
    const std::string out = WithoutLocations(run.out);
    const std::string line = ErrorLine("uart create fail.\n");
    const size_t first = out.find(line);
    ASSERT_NE(std::string::npos, first) << out;
    EXPECT_NE(std::string::npos, out.find(line, first + line.size())) << out;
}

TEST_F(UartDebugTest, ReceiveGroupsByPauseAndByAFullBuffer) {
    ASSERT_TRUE(Start("uart_debug", {"-r"}));
    // The tool's port is open (and its input flushed) once its first read waits; five bytes then silence give
    // one group.
    ASSERT_TRUE(test_support::WaitUntil([&] { return WaitsForInput(Bench().Pid()); }));
    ASSERT_EQ(5, port1_->Write(Bytes{0x00, 0x01, 0x7f, 0x80, 0xff}));
    std::string out = WaitForLines(1);
    int hours = -1, minutes = -1, seconds = -1, stampLength = 0;
    ASSERT_EQ(3, sscanf(out.c_str(), "[%d:%d:%d] %n", &hours, &minutes, &seconds, &stampLength)) << out;
    ASSERT_GT(stampLength, 0) << out;
    EXPECT_EQ(out.substr(0, static_cast<size_t>(stampLength)) + "0x00 0x01 0x7f 0x80 0xff \n", out);

    // 1500 bytes in one go: a group of 1024 led by "\r\n" (two newlines), then the rest after the pause.
    Bytes stream(1500);
    for (size_t index = 0; index < stream.size(); ++index) {
        stream[index] = static_cast<uint8_t>(index);
    }
    ASSERT_EQ(1500, port1_->Write(stream));
    out = WaitForLines(4).substr(out.size());
    Finish(1ms);
    const size_t firstEnd = out.find('\n', 2);
    ASSERT_NE(std::string::npos, firstEnd);
    const std::string first = out.substr(0, firstEnd + 1);
    const std::string second = out.substr(firstEnd + 1);
    EXPECT_EQ(0u, first.rfind("\r\n[", 0)) << first;
    EXPECT_EQ(1024u * 5, first.size() - first.find("] ") - 3);
    EXPECT_EQ(0u, second.rfind("[", 0)) << second;
    EXPECT_EQ(476u * 5, second.size() - second.find("] ") - 3);
    EXPECT_NE(std::string::npos, first.find("0xff 0x00 0x01 "));
}

} // namespace
