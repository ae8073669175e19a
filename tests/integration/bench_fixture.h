// The fixture of every integration test: a sandbox of its own per test, holding the installed tarn.
//
// By default the suite runs the install staged in the build folder. TARN_TEST_PREFIX names another install
// prefix and TARN_TEST_RUNNER a runner for it (e.g. "qemu-aarch64-static" for a static AArch64 build): the one
// switch that points the whole suite at a target build. Only the tests read these variables.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <memory>
#include <string>
#include <unistd.h>
#include <utility>
#include <vector>

#include "tarn_bench_sandbox.h"
#include "tarn_bench_sim_port.h"
#include "test_support.h"

namespace bench_test {

using namespace std::chrono_literals;

inline tarn::bench::ToolInstall InstallUnderTest() {
    const char *prefix = getenv("TARN_TEST_PREFIX");
    const char *runner = getenv("TARN_TEST_RUNNER");
    return tarn::bench::MakeToolInstall(prefix != nullptr && *prefix != '\0' ? prefix : TARN_STAGE_DIR,
                                        runner != nullptr ? runner : "");
}

// An upper bound for one paced command that a polling wait (100 ms a look) could never meet: 30 ms for a native
// tool, 80 ms for one run by an emulator (qemu-user), whose every system call and wake-up costs several times more.
inline std::chrono::milliseconds CommandBound() {
    const char *runner = getenv("TARN_TEST_RUNNER");
    return runner != nullptr && *runner != '\0' ? 80ms : 30ms;
}

// A simulated line for a device. TARN_TEST_UARTS ("SIMULATOR_DEVICE,TOOL_DEVICE", in a VM: scripts/vm-tests.sh)
// puts it on two real serial ports wired to each other instead of a pseudo-terminal, so that the tool
// talks through the kernel's serial driver.
inline std::unique_ptr<tarn::bench::SimPort> MakeLine() {
    const char *uarts = getenv("TARN_TEST_UARTS");
    const std::string devices = uarts != nullptr ? uarts : "";
    const size_t comma = devices.find(',');
    if (comma == std::string::npos) {
        return tarn::bench::SimPort::Create();
    }
    return tarn::bench::SimPort::CreateOnDevices(devices.substr(0, comma), devices.substr(comma + 1));
}

// A test image whose bytes differ from their neighbours': byte i is i * step + first, modulo 256.
inline std::vector<uint8_t> TestImage(size_t size, unsigned step, unsigned first) {
    std::vector<uint8_t> image(size);
    for (size_t index = 0; index < size; ++index) {
        image[index] = static_cast<uint8_t>(index * step + first);
    }
    return image;
}

struct ToolRun {
    tarn::bench::ToolStatus status;
    int exitStatus = -1; // the code, 128 + signal when killed, -1 when the tool did not start
    std::string out;
    std::string err;
    std::chrono::milliseconds elapsed{0};
};

inline ToolRun Finished(const tarn::bench::Sandbox &sandbox, std::chrono::steady_clock::time_point start) {
    ToolRun run;
    run.status = sandbox.Status();
    run.exitStatus = !run.status.started ? -1 : run.status.exited ? run.status.code : 128 + run.status.signalNumber;
    run.out = sandbox.Stdout();
    run.err = sandbox.Stderr();
    run.elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    return run;
}

// Every byte the tool wrote to a line, once the line's simulator has read and handled them all: a tool can end
// while its last bytes are still on their way, so "nothing was sent" is read only after a marker written behind
// them from the tool's side has come out, and the simulator has come back for more.
inline std::vector<uint8_t> SentByTheTool(tarn::bench::SimPort &port) {
    const std::vector<uint8_t> marker = {0x00, 0x5A, 0xA5, 0x00}; // no request of any simulator here
    const int line = open(port.SlavePath().c_str(), O_WRONLY | O_NOCTTY);
    const bool written = line >= 0 && write(line, marker.data(), marker.size()) == ssize_t(marker.size());
    if (line >= 0) {
        close(line);
    }
    std::vector<uint8_t> sent;
    const bool delivered =
        written && test_support::WaitUntil([&] {
            sent = port.BytesFrom(tarn::bench::PortSide::Tool);
            return sent.size() >= marker.size() &&
                   std::equal(marker.begin(), marker.end(), sent.end() - static_cast<long>(marker.size()));
        });
    EXPECT_TRUE(delivered) << "the marker did not come through the line";
    const uint64_t reads = port.ReadsBegun();
    EXPECT_TRUE(test_support::WaitUntil([&] { return port.ReadsBegun() > reads; }));
    sent.resize(delivered ? sent.size() - marker.size() : sent.size());
    return sent;
}

// How long a run on a paced line took against what its bytes allow.
struct LineTiming {
    // From the tool's first byte on the line to the run's end: the tool's start is not in it.
    std::chrono::steady_clock::duration span;
    // Every byte that went over the line, both ways, at the line rate: the time no run on it can beat.
    std::chrono::microseconds floor;

    // The least span the bench allows: it hands a paced write over in pieces of 1 ms of line time, each at the
    // start of its millisecond, so the last reply may land up to 1 ms before the line would have carried it.
    std::chrono::steady_clock::duration Least() const { return floor - std::chrono::milliseconds(1); }
    double Ratio() const { return std::chrono::duration<double>(span) / std::chrono::duration<double>(floor); }
    // One line for the speed figures: "WHAT: S ms from the first byte to the end (run R ms), floor F ms, X.XXXx".
    void Print(const char *what, const ToolRun &run) const {
        printf("%s: %.2f ms from the first byte to the end (run %lld ms), floor %.2f ms, %.3fx\n", what,
               std::chrono::duration<double, std::milli>(span).count(), static_cast<long long>(run.elapsed.count()),
               std::chrono::duration<double, std::milli>(floor).count(), Ratio());
    }
};

// The timing of a run on port, paced at bytesPerSecond, from what the line carried between started and ended.
inline LineTiming TimingOf(const tarn::bench::SimPort &port, uint32_t bytesPerSecond,
                           std::chrono::steady_clock::time_point started, std::chrono::steady_clock::time_point ended) {
    size_t bytes = 0;
    auto firstFromTheTool = ended;
    for (const tarn::bench::PortLogEntry &entry : port.Log()) {
        if (entry.at < started || entry.at > ended) {
            continue;
        }
        bytes += entry.bytes.size();
        if (entry.side == tarn::bench::PortSide::Tool) {
            firstFromTheTool = std::min(firstFromTheTool, entry.at);
        }
    }
    return {ended - firstFromTheTool, std::chrono::microseconds(uint64_t{bytes} * 1000000u / bytesPerSecond)};
}

class BenchTest : public testing::Test {
protected:
    void SetUp() override {
        tarn::bench::SandboxSettings settings;
        settings.install = Install();
        sandbox_ = tarn::bench::Sandbox::Create(std::move(settings));
        ASSERT_NE(sandbox_, nullptr);
    }

    // The tarn under test; a fixture testing the bench itself overrides it with the native staged install.
    virtual tarn::bench::ToolInstall Install() const { return InstallUnderTest(); }

    tarn::bench::Sandbox &Bench() { return *sandbox_; }

    // Writes a file into the tool's working directory, where a relative path given to the tool finds it.
    void PlaceFile(const std::string &name, const std::vector<uint8_t> &bytes) {
        const std::string path = sandbox_->WorkDirectory() + "/" + name;
        const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(static_cast<ssize_t>(bytes.size()), write(fd, bytes.data(), bytes.size()));
        close(fd);
    }

    // Runs a tool to its end (stopped after limit) and collects what it did.
    ToolRun Run(const std::string &argv0, const std::vector<std::string> &arguments = {},
                std::chrono::milliseconds limit = 30s) {
        const auto start = std::chrono::steady_clock::now();
        sandbox_->Run(argv0, arguments, limit);
        return Finished(*sandbox_, start);
    }

    // Runs a tool to its end against a line paced at 115200 baud and times what the line carried meanwhile.
    ToolRun RunTimed(const tarn::bench::SimPort &port, LineTiming *pTiming, const std::string &argv0,
                     const std::vector<std::string> &arguments, std::chrono::milliseconds limit = 30s) {
        const auto started = std::chrono::steady_clock::now();
        ToolRun run = Run(argv0, arguments, limit);
        *pTiming = TimingOf(port, tarn::bench::kLineRate115200, started, std::chrono::steady_clock::now());
        return run;
    }

    // Starts a tool in the background; Finish collects it once it has ended or been stopped.
    bool Start(const std::string &argv0, const std::vector<std::string> &arguments = {}) {
        started_ = std::chrono::steady_clock::now();
        return sandbox_->Start(argv0, arguments) == 0;
    }
    ToolRun Finish(std::chrono::milliseconds limit = 30s) {
        if (!sandbox_->Wait(limit)) {
            sandbox_->Stop();
        }
        return Finished(*sandbox_, started_);
    }

private:
    std::unique_ptr<tarn::bench::Sandbox> sandbox_;
    std::chrono::steady_clock::time_point started_;
};

// A test with one device simulator on a serial line of the sandbox.
template <class Device> class DeviceLineTest : public BenchTest {
protected:
    // Puts a fresh simulator, made with these arguments after its line, on a new line wired to
    // /dev/ttyS<serial> and starts it. One already there goes first, before its line.
    template <class... Arguments> void Attach(size_t serial, Arguments &&...arguments) {
        device_.reset();
        port_ = MakeLine();
        ASSERT_NE(port_, nullptr);
        Bench().Settings().serial[serial] = port_.get();
        device_ = std::make_unique<Device>(*port_, std::forward<Arguments>(arguments)...);
        Prepare(*device_);
        ASSERT_EQ(0, device_->Start());
    }
    // Knobs that must be set before the simulator's first step.
    virtual void Prepare(Device &device) { (void)device; }

    void TearDown() override { device_.reset(); }

    Device &Sim() { return *device_; }
    const Device &Sim() const { return *device_; }
    tarn::bench::SimPort &Port() { return *port_; }

private:
    std::unique_ptr<tarn::bench::SimPort> port_;
    std::unique_ptr<Device> device_;
};

} // namespace bench_test
