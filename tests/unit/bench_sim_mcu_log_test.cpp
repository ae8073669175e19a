// The serial log source: its numbered pattern, its rate, pauses, and a line that does not keep up (its hang-up
// is in mcu_dlogger_test).
#include <gtest/gtest.h>

#include <chrono>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include "tarn_bench_namespace.h"
#include "tarn_bench_sim_mcu_log.h"
#include "test_support.h"

namespace {

using namespace std::chrono_literals;
using tarn::bench::McuLogSimulator;
using tarn::bench::SimPort;
using test_support::Clock;
using test_support::WaitUntil;

class McuLogSourceTest : public testing::Test {
protected:
    void SetUp() override {
        port_ = SimPort::Create();
        ASSERT_TRUE(port_);
        ASSERT_EQ(0, tarn::bench::AttachSerialDevice(1, *port_));
        reader_ = open("/dev/ttyS1", O_RDWR | O_NOCTTY);
        ASSERT_GE(reader_, 0);
        source_ = std::make_unique<McuLogSimulator>(*port_);
    }
    void TearDown() override {
        source_->Stop();
        close(reader_);
    }

    // Everything that arrives on the tool's side within the time.
    std::string ReadFor(std::chrono::milliseconds time) {
        std::string bytes;
        const Clock::time_point end = Clock::now() + time;
        while (Clock::now() < end) {
            pollfd request{reader_, POLLIN, 0};
            if (poll(&request, 1, 10) > 0) {
                char buffer[4096];
                const ssize_t count = read(reader_, buffer, sizeof buffer);
                bytes.append(buffer, static_cast<size_t>(count > 0 ? count : 0));
            }
        }
        return bytes;
    }

    std::unique_ptr<SimPort> port_;
    std::unique_ptr<McuLogSimulator> source_;
    int reader_ = -1;
};

TEST_F(McuLogSourceTest, SendsNumberedLinesAtLineRate) {
    const Clock::time_point start = Clock::now();
    ASSERT_EQ(0, source_->Start());
    // A second of the line, however long a loaded machine takes to deliver it: its pace is bounded from above.
    std::string received;
    ASSERT_TRUE(WaitUntil(
        [&] {
            received += ReadFor(10ms);
            return received.size() >= 11520;
        },
        20s));
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();

    EXPECT_EQ("L0000000000 log\nL0000000001 log\nL0000000002 log\n", received.substr(0, 48));
    for (size_t offset = 0; offset < received.size(); ++offset) {
        ASSERT_EQ(McuLogSimulator::PatternByte(offset), static_cast<uint8_t>(received[offset])) << offset;
    }
    EXPECT_EQ(0u, source_->DroppedCount());
    // 11520 bytes a second: never more than the time since the start could carry.
    EXPECT_LE(static_cast<double>(received.size()), 11520 * seconds + 1);
    EXPECT_EQ(received.size(), source_->SentCount());
    EXPECT_EQ('2', McuLogSimulator::PatternByte(16 * 1234567 + 5));
}

TEST_F(McuLogSourceTest, NeverWaitsForAReaderThatDoesNotKeepUpAndPausesOnRequest) {
    McuLogSimulator fast(*port_, 200000);
    ASSERT_EQ(0, fast.Start());
    // Nobody reads: the line fills, then the source drops and counts, still at its own pace.
    ASSERT_TRUE(WaitUntil([&] { return fast.DroppedCount() > 0; }));
    const uint64_t generated = fast.SentCount() + fast.DroppedCount();
    ASSERT_TRUE(WaitUntil([&] { return fast.SentCount() + fast.DroppedCount() >= generated + 20000; }));
    const std::string received = ReadFor(300ms);
    // The line held the stream's beginning; what it could not take is missing after it.
    ASSERT_GE(received.size(), 64u);
    EXPECT_EQ(McuLogSimulator::PatternByte(0), static_cast<uint8_t>(received[0]));
    EXPECT_LT(received.size(), fast.SentCount() + fast.DroppedCount());

    fast.SetPaused(true);
    ReadFor(100ms);
    const uint64_t pausedAt = fast.SentCount() + fast.DroppedCount();
    EXPECT_EQ("", ReadFor(200ms));
    EXPECT_EQ(pausedAt, fast.SentCount() + fast.DroppedCount());
    fast.Stop();
}

TEST_F(McuLogSourceTest, SendsBurstsSeparatedByQuietThatLetsNothingAccrue) {
    EXPECT_EQ(-1, source_->SetKnob("pause", "300ms"));
    EXPECT_EQ(-1, source_->SetKnob("speed", "1"));
    ASSERT_EQ(0, source_->SetKnob("burst", "40"));
    ASSERT_EQ(0, source_->SetKnob("pause", "300"));
    ASSERT_EQ(0, source_->Start());
    std::string received = ReadFor(1100ms);
    source_->Stop();
    received += ReadFor(100ms);

    // Chunks less than 150 ms apart belong to one burst.
    std::vector<uint64_t> bursts;
    std::vector<Clock::time_point> starts;
    Clock::time_point last{};
    uint64_t offset = 0;
    for (const tarn::bench::SentChunk &chunk : source_->Sent()) {
        EXPECT_EQ(offset, chunk.offset) << "the stream goes on where the last burst ended";
        offset += chunk.count;
        if (bursts.empty() || chunk.at - last >= 150ms) {
            bursts.push_back(0);
            starts.push_back(chunk.at);
        }
        bursts.back() += chunk.count;
        last = chunk.at;
    }
    ASSERT_GE(bursts.size(), 3u);
    ASSERT_LE(bursts.size(), 5u);
    for (size_t index = 0; index + 1 < bursts.size(); ++index) {
        EXPECT_EQ(40u, bursts[index]) << index;
        EXPECT_GE(starts[index + 1] - starts[index], 300ms) << index;
    }
    EXPECT_EQ(source_->SentCount(), received.size());
    EXPECT_EQ(0u, source_->DroppedCount());
}

} // namespace
