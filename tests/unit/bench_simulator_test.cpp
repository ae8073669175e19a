// The simulator base's thread, frame record and fault knobs, driven through a toy device on /dev/ttyS1.
#include <gtest/gtest.h>

#include <chrono>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>
#include <vector>

#include "tarn_bench_namespace.h"
#include "tarn_bench_simulator.h"

namespace {

using namespace std::chrono_literals;
using tarn::bench::Fault;
using tarn::bench::SimPort;
using Clock = std::chrono::steady_clock;

constexpr uint8_t kStart = 0x7E;
constexpr uint8_t kDeviceId = 0x05;

// Requests are {0x7E, kind, value, kind + value}; the answer is {0x7E, kind | 0x80, value, id, sum of the three}.
class ToyDevice : public tarn::bench::Simulator {
public:
    using Simulator::Simulator;
    ~ToyDevice() override { Stop(); }

protected:
    void OnBytes(const uint8_t *bytes, size_t count) override {
        for (size_t index = 0; index < count; ++index) {
            if (pending_.empty() && bytes[index] != kStart) {
                continue;
            }
            pending_.push_back(bytes[index]);
            if (pending_.size() == 4) {
                if (RecordFrame(pending_[1], pending_.data(), pending_.size())) {
                    Answer(pending_[1], pending_[2]);
                }
                pending_.clear();
            }
        }
    }

private:
    void Answer(uint8_t kind, uint8_t value) {
        std::vector<uint8_t> reply = {kStart, static_cast<uint8_t>(kind | 0x80), value, kDeviceId};
        if (TakeFault(Fault::WrongSequence)) {
            ++reply[2];
        }
        if (TakeFault(Fault::WrongDeviceId)) {
            reply[3] ^= 0xFF;
        }
        reply.push_back(static_cast<uint8_t>(reply[1] + reply[2] + reply[3]));
        if (TakeFault(Fault::CorruptChecksum)) {
            reply[4] ^= 0xFF;
        }
        SendFrame(reply);
    }
    std::vector<uint8_t> pending_; // simulator thread only
};

class SimulatorTest : public testing::Test {
protected:
    void SetUp() override {
        port_ = SimPort::Create();
        ASSERT_NE(port_, nullptr);
        ASSERT_EQ(tarn::bench::AttachSerialDevice(1, *port_), 0);
        tool_ = open("/dev/ttyS1", O_RDWR | O_NOCTTY);
        ASSERT_GE(tool_, 0);
        device_ = std::make_unique<ToyDevice>(*port_);
        ASSERT_EQ(device_->Start(), 0);
    }
    void TearDown() override {
        device_.reset();
        close(tool_);
    }

    void Request(uint8_t kind, uint8_t value) {
        const uint8_t frame[] = {kStart, kind, value, static_cast<uint8_t>(kind + value)};
        ASSERT_EQ(write(tool_, frame, sizeof frame), ssize_t(sizeof frame));
    }
    // What the tool receives within the time-out.
    std::vector<uint8_t> Receive(size_t count, int timeoutMs) {
        std::vector<uint8_t> bytes;
        const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        while (bytes.size() < count && Clock::now() < deadline) {
            pollfd entry{tool_, POLLIN, 0};
            if (poll(&entry, 1, 10) == 1) {
                uint8_t byte = 0;
                if (read(tool_, &byte, 1) == 1) {
                    bytes.push_back(byte);
                }
            }
        }
        return bytes;
    }

    std::unique_ptr<SimPort> port_;
    std::unique_ptr<ToyDevice> device_;
    int tool_ = -1;
};

TEST_F(SimulatorTest, AnswersFramesSplitAcrossWritesAndRecordsThem) {
    const uint8_t head[] = {0x00, kStart, 0x01};
    ASSERT_EQ(write(tool_, head, sizeof head), 3);
    usleep(50000);
    const uint8_t tail[] = {0x22, 0x23};
    ASSERT_EQ(write(tool_, tail, sizeof tail), 2);
    EXPECT_EQ(Receive(5, 10000), (std::vector<uint8_t>{kStart, 0x81, 0x22, kDeviceId, 0xA8}));
    ASSERT_TRUE(device_->WaitForFrames(1, 1, 10s));
    EXPECT_EQ(device_->FramesOfKind(1)[0].bytes, (std::vector<uint8_t>{kStart, 0x01, 0x22, 0x23}));
}

TEST_F(SimulatorTest, IgnoresTheNextRequestsOfOneKindOnly) {
    device_->IgnoreNext(2, 2);
    Request(2, 1);
    Request(2, 2);
    Request(3, 3);
    Request(2, 4);
    const std::vector<uint8_t> answers = Receive(10, 10000);
    ASSERT_EQ(answers.size(), 10u);
    EXPECT_EQ(answers[1], 0x83);
    EXPECT_EQ(answers[2], 3);
    EXPECT_EQ(answers[6], 0x82);
    EXPECT_EQ(answers[7], 4) << "the third request of the ignored kind is answered";
    EXPECT_EQ(device_->FramesOfKind(2).size(), 3u) << "ignored requests are still recorded";
}

TEST_F(SimulatorTest, SilenceRecordsWithoutAnswering) {
    device_->SetSilent(true);
    Request(1, 1);
    ASSERT_TRUE(device_->WaitForFrames(-1, 1, 10s));
    // Answers keep the order of the requests: the first to come back belongs to the request made after
    // speaking again, so the silent one had none.
    device_->SetSilent(false);
    Request(1, 2);
    EXPECT_EQ(Receive(5, 10000), (std::vector<uint8_t>{kStart, 0x81, 2, kDeviceId, 0x88}));
}

TEST_F(SimulatorTest, ArmedFaultsSpoilOnlyTheNextReplies) {
    device_->Arm(Fault::CorruptChecksum);
    device_->Arm(Fault::WrongSequence);
    device_->Arm(Fault::WrongDeviceId, 2);
    for (uint8_t value = 1; value <= 3; ++value) {
        Request(4, value);
    }
    const std::vector<uint8_t> answers = Receive(15, 10000);
    ASSERT_EQ(answers.size(), 15u);
    // First: sequence one too high, foreign id, and the checksum of those bytes inverted.
    EXPECT_EQ(answers[2], 2);
    EXPECT_EQ(answers[3], 0xFA);
    EXPECT_EQ(answers[4], static_cast<uint8_t>(~(0x84 + 2 + 0xFA)));
    // Second: only the id is wrong, and the checksum covers it.
    EXPECT_EQ(answers[7], 2);
    EXPECT_EQ(answers[8], 0xFA);
    EXPECT_EQ(answers[9], static_cast<uint8_t>(0x84 + 2 + 0xFA));
    // Third: clean.
    EXPECT_EQ(answers[12], 3);
    EXPECT_EQ(answers[13], kDeviceId);
}

TEST_F(SimulatorTest, DelaysAndPrefixesRepliesWithNoise) {
    device_->SetReplyDelay(300ms);
    device_->SetNoise({0xEE, 0xEE});
    const Clock::time_point start = Clock::now();
    Request(1, 9);
    const std::vector<uint8_t> bytes = Receive(7, 3000);
    const auto elapsed = Clock::now() - start;
    EXPECT_EQ(bytes, (std::vector<uint8_t>{0xEE, 0xEE, kStart, 0x81, 9, kDeviceId, 0x8F}));
    EXPECT_GE(elapsed, 290ms);
    EXPECT_LT(elapsed, 3000ms);
}

TEST_F(SimulatorTest, PacesARequestAndItsReplyAtTheLineRate) {
    // At 1000 bytes a second, 96 skipped bytes and a 4-byte request take 100 ms to arrive, the reply 5 ms more.
    device_->SetLineRate(1000);
    std::vector<uint8_t> bytes(96, 0x00);
    bytes.insert(bytes.end(), {kStart, 1, 9, 10});
    const Clock::time_point start = Clock::now();
    ASSERT_EQ(write(tool_, bytes.data(), bytes.size()), ssize_t(bytes.size()));
    EXPECT_EQ(Receive(5, 3000), (std::vector<uint8_t>{kStart, 0x81, 9, kDeviceId, 0x8F}));
    const auto elapsed = Clock::now() - start;
    EXPECT_GE(elapsed, 104ms);
    EXPECT_LT(elapsed, 3000ms);
}

TEST_F(SimulatorTest, StopsPromptlyAndRefusesASecondStart) {
    EXPECT_EQ(device_->Start(), -1);
    const Clock::time_point start = Clock::now();
    device_->Stop();
    EXPECT_LT(Clock::now() - start, 1000ms);
    Request(1, 1);
    // The request is still in the line, whole: nobody read it.
    uint8_t unread[4] = {};
    EXPECT_EQ(port_->ReadExact(unread, sizeof unread, 10000), 4);
    EXPECT_EQ(unread[1], 1);
    EXPECT_TRUE(device_->Frames().empty()) << "a stopped simulator reads nothing";
}

} // namespace
