// The RC/RF frame against the bytes the modules document, the acknowledgement parser's skipping rules, and the
// wait's three ends.
#include <gtest/gtest.h>

#include <vector>

#include "tarn_rcrf.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Wire(const RcrfMsg &msg) {
    Bytes wire(kRcrfMaxFrameLength + 1, 0xA5);
    wire.resize(Rcrf_MsgToBuffer(wire.data(), msg));
    return wire;
}

// The frames the parser completed, in order.
std::vector<RcrfMsg> Parse(uint8_t deviceId, const Bytes &bytes) {
    RcrfParser parser;
    Rcrf_ParserReset(&parser, deviceId);
    std::vector<RcrfMsg> frames;
    for (uint8_t byte : bytes) {
        if (Rcrf_ParseByte(&parser, byte)) {
            frames.push_back(parser.frame);
        }
    }
    return frames;
}

// A line that hands out its bytes in reads of the wait's capacity, then fails or stays silent.
struct ScriptedLine {
    Bytes bytes;
    size_t at = 0;
    bool failWhenEmpty = true;
    int reads = 0;

    static int Receive(void *context, uint8_t *buffer, uint32_t capacity) {
        auto *line = static_cast<ScriptedLine *>(context);
        ++line->reads;
        if (line->at == line->bytes.size()) {
            return line->failWhenEmpty ? -1 : 0;
        }
        uint32_t count = 0;
        while (count < capacity && line->at < line->bytes.size()) {
            buffer[count++] = line->bytes[line->at++];
        }
        return static_cast<int>(count);
    }
};

RcrfWaitResult Await(ScriptedLine *line, uint8_t deviceId, uint32_t capacity, RcrfParser *parser,
                     bool (*accepts)(const RcrfMsg &, void *) = nullptr, uint32_t limitMs = 10000) {
    Rcrf_ParserReset(parser, deviceId);
    const RcrfWaitParam param = {ScriptedLine::Receive, line, capacity, limitMs, accepts};
    return Rcrf_Await(param, parser);
}

TEST(RcrfFrame, EncodesTheDocumentedFrames) {
    RcrfMsg request;
    Rcrf_Pack(&request, 1, 0x00, 0, nullptr, 0);
    EXPECT_EQ((Bytes{0xaa, 0x01, 0x00, 0x00, 0x00, 0x38}), Wire(request));

    // The jump to the bootloader is three bytes and their CRC-8.
    const uint8_t jump[] = {0xaa, 0xe0, 0x00};
    EXPECT_EQ(0x8c, Rcrf_Crc8(jump, sizeof(jump)));

    // A full program frame: 240 data bytes between the header and the crc, nothing written past it.
    Bytes block(240);
    for (size_t index = 0; index < block.size(); ++index) {
        block[index] = static_cast<uint8_t>(index * 7);
    }
    RcrfMsg program;
    Rcrf_Pack(&program, 2, 0x08, 0x83, block.data(), 240);
    Bytes wire(kRcrfMaxFrameLength + 1, 0xA5);
    ASSERT_EQ(246u, Rcrf_MsgToBuffer(wire.data(), program));
    EXPECT_EQ(0xA5, wire[246]);
    EXPECT_EQ((Bytes{0xaa, 0x02, 0x08, 0x83, 240}), Bytes(wire.begin(), wire.begin() + 5));
    EXPECT_EQ(block, Bytes(wire.begin() + 5, wire.begin() + 245));
    EXPECT_EQ(Rcrf_Crc8(wire.data(), 245), wire[245]);

    // Size 500 little-endian, then the image's CRC-8 as a 32-bit word.
    const Bytes image(500, 0x31);
    uint8_t info[kRcrfAppInfoLength];
    Rcrf_AppInfo(info, image.data(), 500);
    EXPECT_EQ((Bytes{0xf4, 0x01, 0x00, 0x00, Rcrf_Crc8(image.data(), 500), 0, 0, 0}), Bytes(info, info + 8));
}

TEST(RcrfParser, TakesOnlyFramesOfItsDeviceAndKeepsWhatTheyCarry) {
    // Noise, an RF frame, then an RC frame with data: the RC parser completes the last one only.
    const Bytes bytes = {0x00, 0x55, 0xaa, 0x02, 0x04, 0x07, 0x01, 0x12, 0x99,
                         0xaa, 0x01, 0x09, 0x21, 0x02, 0x12, 0x34, 0x5e};
    const std::vector<RcrfMsg> frames = Parse(1, bytes);
    ASSERT_EQ(1u, frames.size());
    EXPECT_EQ(0x09, frames[0].cmd);
    EXPECT_EQ(0x21, frames[0].seq);
    EXPECT_EQ(2, frames[0].len);
    EXPECT_EQ((Bytes{0x12, 0x34}), Bytes(frames[0].data, frames[0].data + 2));
    EXPECT_EQ(0x5e, frames[0].crc);
    EXPECT_TRUE(Rcrf_IsAck(frames[0]));

    // A wrong id is not taken as a new start, even when it is 0xAA.
    EXPECT_TRUE(Parse(1, {0xaa, 0xaa, 0x01, 0x00, 0x00, 0x01, 0x12, 0x00}).empty());

    // A frame without data is complete but no acknowledgement, even after one that carried 0x12.
    const std::vector<RcrfMsg> empty =
        Parse(2, {0xaa, 0x02, 0x01, 0x00, 0x01, 0x12, 0x00, 0xaa, 0x02, 0x01, 0x01, 0x00, 0x00});
    ASSERT_EQ(2u, empty.size());
    EXPECT_TRUE(Rcrf_IsAck(empty[0]));
    EXPECT_FALSE(Rcrf_IsAck(empty[1]));

    // 255 data bytes fill the record without running past it.
    Bytes longest = {0xaa, 0x01, 0x01, 0x00, 0xff};
    longest.insert(longest.end(), 255, 0x13);
    longest.push_back(0x00);
    const std::vector<RcrfMsg> full = Parse(1, longest);
    ASSERT_EQ(1u, full.size());
    EXPECT_EQ(0x13, full[0].data[254]);
    EXPECT_FALSE(Rcrf_IsAck(full[0]));
}

TEST(RcrfWait, EndsOnAnAcknowledgementAFailedReadOrTheLimit) {
    // A frame split over byte-wise reads, after a frame whose first data byte is not 0x12.
    ScriptedLine line;
    line.bytes = {0xaa, 0x01, 0x04, 0x00, 0x01, 0x13, 0x00, 0xaa, 0x01, 0x04, 0x01, 0x01, 0x12, 0x77};
    RcrfParser parser;
    EXPECT_EQ(RcrfWaitResult::Acknowledged, Await(&line, 1, 1, &parser));
    EXPECT_EQ(0x01, parser.frame.seq);
    EXPECT_EQ(14, line.reads);

    // Without an acknowledgement the line's failure ends the wait, after every byte was parsed.
    line = ScriptedLine();
    line.bytes = {0xaa, 0x01, 0x04, 0x00, 0x00, 0x00};
    EXPECT_EQ(RcrfWaitResult::ReadFailed, Await(&line, 1, 512, &parser));
    EXPECT_EQ(2, line.reads);

    // A reply the user accepts by its command ends the wait too, in one larger read.
    line = ScriptedLine();
    line.bytes = {0xaa, 0x02, 0x01, 0x05, 0x04, 0x04, 0x03, 0x02, 0x01, 0x00};
    const auto acceptsReply = [](const RcrfMsg &frame, void *) { return Rcrf_IsAck(frame) || frame.cmd == 1; };
    EXPECT_EQ(RcrfWaitResult::Acknowledged, Await(&line, 2, 512, &parser, acceptsReply));
    EXPECT_EQ(0x04, parser.frame.data[0]);

    // A line that stays silent ends at the limit.
    line = ScriptedLine();
    line.failWhenEmpty = false;
    EXPECT_EQ(RcrfWaitResult::Expired, Await(&line, 1, 1, &parser, nullptr, 20));
    EXPECT_GT(line.reads, 1);
}

} // namespace
