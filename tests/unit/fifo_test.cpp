// The byte FIFO: capacity limits, wrap-around order, emptying, and two threads moving a stream through it.
#include <gtest/gtest.h>

#include <numeric>
#include <thread>
#include <unistd.h>
#include <vector>

#include "console_capture.h"
#include "tarn_fifo.h"
#include "tarn_handle.h"

namespace {

constexpr uint32_t kQueueSize = 16384;

std::vector<uint8_t> Pattern(size_t length, uint8_t first) {
    std::vector<uint8_t> bytes(length);
    std::iota(bytes.begin(), bytes.end(), first);
    return bytes;
}

class FifoTest : public testing::Test {
protected:
    void SetUp() override {
        FifoParam param{"mcu_log", kQueueSize};
        StdoutCapture quiet;
        ASSERT_EQ(Fifo_Create(fifo.Address(), &param), 0);
        EXPECT_EQ(quiet.Finish(), "");
    }
    uint32_t Put(const std::vector<uint8_t> &bytes) {
        return fifo->Put(fifo.Get(), bytes.data(), static_cast<uint32_t>(bytes.size()));
    }
    std::vector<uint8_t> Get(uint32_t length) {
        std::vector<uint8_t> bytes(length);
        bytes.resize(fifo->Get(fifo.Get(), bytes.data(), length));
        return bytes;
    }
    OwnedHandle<Fifo, Fifo_Delete> fifo;
};

TEST_F(FifoTest, PutStopsAtTheFreeSpace) {
    EXPECT_EQ(Put(Pattern(20000, 0)), kQueueSize);
    EXPECT_EQ(fifo->IsFull(fifo.Get()), 1);
    EXPECT_EQ(fifo->Len(fifo.Get()), kQueueSize);
    EXPECT_EQ(Put(Pattern(1, 0)), 0u);

    EXPECT_EQ(Get(3).size(), 3u);
    EXPECT_EQ(fifo->IsFull(fifo.Get()), 0);
    EXPECT_EQ(Put(Pattern(10, 0)), 3u);
    EXPECT_EQ(fifo->IsFull(fifo.Get()), 1);
}

TEST_F(FifoTest, WrapKeepsTheOrder) {
    const std::vector<uint8_t> first = Pattern(16380, 7);
    ASSERT_EQ(Put(first), 16380u);
    ASSERT_EQ(Get(16000), std::vector<uint8_t>(first.begin(), first.begin() + 16000));

    const std::vector<uint8_t> second = Pattern(100, 200);
    ASSERT_EQ(Put(second), 100u);
    EXPECT_EQ(fifo->Len(fifo.Get()), 480u);

    std::vector<uint8_t> expected(first.begin() + 16000, first.end());
    expected.insert(expected.end(), second.begin(), second.end());
    EXPECT_EQ(Get(1000), expected);
}

TEST_F(FifoTest, GetOnEmptyLeavesTheBuffer) {
    std::vector<uint8_t> buffer(16, 0xA5);
    EXPECT_EQ(fifo->Get(fifo.Get(), buffer.data(), 16), 0u);
    EXPECT_EQ(buffer, std::vector<uint8_t>(16, 0xA5));
}

TEST_F(FifoTest, TakingTheLastByteResetsTheCounters) {
    ASSERT_EQ(Put(Pattern(5, 1)), 5u);
    ASSERT_EQ(Get(3).size(), 3u);
    EXPECT_EQ(fifo->pCore->in, 5u);
    EXPECT_EQ(fifo->pCore->out, 3u);

    EXPECT_EQ(Get(10), Pattern(2, 4));
    EXPECT_EQ(fifo->pCore->in, 0u);
    EXPECT_EQ(fifo->pCore->out, 0u);
}

TEST_F(FifoTest, ResetEmptiesTheQueue) {
    ASSERT_EQ(Put(Pattern(300, 1)), 300u);
    ASSERT_EQ(Get(100).size(), 100u);
    EXPECT_EQ(fifo->Reset(fifo.Get()), 0);
    EXPECT_EQ(fifo->Len(fifo.Get()), 0u);
    EXPECT_TRUE(Get(10).empty());
    EXPECT_EQ(Put(Pattern(20000, 0)), kQueueSize);
}

TEST_F(FifoTest, ProducerAndConsumerMoveOneMegabyteIntact) {
    constexpr size_t kTotal = 1 << 20;
    std::vector<uint8_t> source(kTotal);
    for (size_t index = 0; index < kTotal; ++index) {
        source[index] = static_cast<uint8_t>((index * 131) ^ (index >> 9));
    }
    std::thread producer([&] {
        size_t sent = 0;
        for (uint32_t chunk = 1; sent < kTotal; chunk = chunk % 5000 + 97) {
            const uint32_t length = static_cast<uint32_t>(std::min<size_t>(chunk, kTotal - sent));
            const uint32_t accepted = fifo->Put(fifo.Get(), source.data() + sent, length);
            sent += accepted;
            if (accepted == 0) {
                usleep(100);
            }
        }
    });
    std::vector<uint8_t> received;
    std::vector<uint8_t> block(7000);
    for (uint32_t chunk = 1; received.size() < kTotal; chunk = chunk % 6000 + 61) {
        const uint32_t taken = fifo->Get(fifo.Get(), block.data(), chunk);
        received.insert(received.end(), block.begin(), block.begin() + taken);
        if (taken == 0) {
            usleep(100);
        }
    }
    producer.join();
    EXPECT_TRUE(received == source);
    EXPECT_EQ(fifo->Len(fifo.Get()), 0u);
}

TEST(Fifo, SizeThatIsNotAPowerOfTwoIsRefused) {
    Fifo *fifo = nullptr;
    FifoParam param{"odd", 1000};
    StdoutCapture capture;
    EXPECT_EQ(Fifo_Create(&fifo, &param), -1);
    EXPECT_EQ(WithoutLocations(capture.Finish()),
              ErrorLine("fifo size 1000 is not a power of two.\n") + ErrorLine("malloc fail.\n"));
    EXPECT_EQ(fifo, nullptr);
}

} // namespace
