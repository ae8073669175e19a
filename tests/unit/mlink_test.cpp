// The mlink frame: checksum, packing, the dump line and the receive state machine's warnings (any split of reads and
// any payload: tests/fuzz/fuzz_mlink.cpp).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "mlink.h"

namespace {

using Bytes = std::vector<uint8_t>;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

Bytes Wire(const MlinkMsg &msg) {
    uint8_t frame[kMlinkFrameMax];
    const size_t size = Mlink_Serialise(&msg, frame);
    return Bytes(frame, frame + size);
}

// Feeds the chunks in order and returns every frame the parser completed.
std::vector<MlinkMsg> Parse(MlinkParser &parser, const std::vector<Bytes> &chunks) {
    std::vector<MlinkMsg> frames;
    for (const Bytes &chunk : chunks) {
        for (uint8_t byte : chunk) {
            if (const MlinkMsg *pFrame = parser.Push(byte)) {
                frames.push_back(*pFrame);
            }
        }
    }
    return frames;
}

TEST(MlinkFrame, LoopTestFrameIsTheSixGivenBytes) {
    MlinkMsg msg{};
    Mlink_Pack(&msg, kMlinkDevIdXtb, 0x01, 0x00, 0, nullptr);
    EXPECT_EQ(0xB0, msg.checksum);
    EXPECT_EQ((Bytes{0xAA, 0x05, 0x01, 0x00, 0x00, 0xB0}), Wire(msg));
}

TEST(MlinkFrame, ChecksumWrapsModulo256AndCoversOnlyTheLengthBytes) {
    MlinkMsg msg{};
    const uint8_t payload[] = {0xFF, 0xFF, 0x10};
    Mlink_Pack(&msg, kMlinkDevIdXtb, 0x06, 0x07, 3, payload);
    // 0xAA + 0x05 + 0x06 + 0x07 + 0x03 + 0xFF + 0xFF + 0x10 = 0x2CD
    EXPECT_EQ(0xCD, msg.checksum);
    msg.payload[3] = 0x55; // beyond the length: not summed
    EXPECT_EQ(0xCD, Mlink_Checksum(&msg));
    EXPECT_EQ((Bytes{0xAA, 0x05, 0x06, 0x07, 0x03, 0xFF, 0xFF, 0x10, 0xCD}), Wire(msg));
}

TEST(MlinkFrame, FlippedBitIsReportedWithBothSumsAndTheDump) {
    MlinkMsg msg{};
    const uint8_t payload[] = {0x01, 0x02};
    Mlink_Pack(&msg, kMlinkDevIdXtb, 0x83, 0x04, 2, payload);
    EXPECT_EQ(1, Mlink_IsValid(&msg));
    msg.payload[1] ^= 0x01;
    CaptureStdout();
    EXPECT_EQ(0, Mlink_IsValid(&msg));
    const std::string output = GetCapturedStdout();
    EXPECT_NE(std::string::npos, output.find("checksum error, calc checksum=0x3c, recv checksum=0x3b\n"));
    EXPECT_NE(std::string::npos, output.find("0xaa 0x05 0x83 0x04 0x02 0x01 0x03 0x3b \n"));
}

class MlinkParserTest : public testing::Test {
protected:
    MlinkParserTest() {
        const uint8_t payload[] = {0xAA, 0x10, 0xAA, 0xAA, 0x00, 0xAA};
        Mlink_Pack(&withStarts_, kMlinkDevIdXtb, 0x9E, 0x31, sizeof(payload), payload);
        Mlink_Pack(&empty_, kMlinkDevIdXtb, 0x01, 0x32, 0, nullptr);
    }

    static void ExpectSame(const MlinkMsg &expected, const MlinkMsg &actual) {
        EXPECT_EQ(Wire(expected), Wire(actual));
        EXPECT_EQ(expected.checksum, actual.checksum);
    }

    MlinkParser parser_{kMlinkDevIdXtb};
    MlinkMsg withStarts_{};
    MlinkMsg empty_{};
};

TEST_F(MlinkParserTest, NoiseBeforeAndBetweenFramesIsIgnoredSilently) {
    Bytes stream = {0x00, 0x55, 0xFF};
    const Bytes first = Wire(empty_);
    stream.insert(stream.end(), first.begin(), first.end());
    stream.insert(stream.end(), {0x13, 0x37});
    const Bytes second = Wire(withStarts_);
    stream.insert(stream.end(), second.begin(), second.end());
    CaptureStdout();
    const auto frames = Parse(parser_, {stream});
    EXPECT_EQ("", GetCapturedStdout());
    ASSERT_EQ(2u, frames.size());
    EXPECT_EQ(0x01, frames[0].cmd);
    EXPECT_EQ(0x9E, frames[1].cmd);
}

TEST_F(MlinkParserTest, WrongDeviceIdIsWarnedAndTheFrameSkipped) {
    MlinkMsg lens{};
    Mlink_Pack(&lens, kMlinkDevIdLens, 0x83, 0x01, 0, nullptr);
    Bytes stream = Wire(lens);
    const Bytes good = Wire(empty_);
    stream.insert(stream.end(), good.begin(), good.end());
    CaptureStdout();
    const auto frames = Parse(parser_, {stream});
    const std::string output = GetCapturedStdout();
    EXPECT_NE(std::string::npos, output.find("warn(mlink.cpp|Push|"));
    EXPECT_NE(std::string::npos, output.find("MLINK_DEVID error, 0x9.\n"));
    ASSERT_EQ(1u, frames.size());
    ExpectSame(empty_, frames[0]);
}

TEST_F(MlinkParserTest, BadChecksumDropsTheFrameAndTheNextOneStillArrives) {
    Bytes stream = Wire(withStarts_);
    stream.back() ^= 0xFF;
    const Bytes good = Wire(empty_);
    stream.insert(stream.end(), good.begin(), good.end());
    CaptureStdout();
    const auto frames = Parse(parser_, {stream});
    const std::string output = GetCapturedStdout();
    EXPECT_NE(std::string::npos, output.find("checksum error, calc checksum="));
    ASSERT_EQ(1u, frames.size());
    ExpectSame(empty_, frames[0]);
}

} // namespace
