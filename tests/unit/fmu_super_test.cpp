// upgrade_fmu_super's packets, header test and answer rules, over a scripted line: each packet the tool writes
// releases the next scripted answer, so drains and discards before a request find nothing waiting.
#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>

#include "console_capture.h"
#include "tarn_byte_order.h"
#include "tarn_upgrade_nimbo_super_fmu.h"

namespace {

using Bytes = std::vector<uint8_t>;

std::deque<uint8_t> g_input;
std::deque<Bytes> g_answers;
std::vector<Bytes> g_written;

int ScriptedRead(Uart *, void *buffer, uint32_t length, uint32_t) {
    uint32_t count = 0;
    for (auto *bytes = static_cast<uint8_t *>(buffer); count < length && !g_input.empty(); ++count) {
        bytes[count] = g_input.front();
        g_input.pop_front();
    }
    return static_cast<int>(count);
}

int ScriptedWrite(Uart *, const void *buffer, uint32_t length) {
    const auto *bytes = static_cast<const uint8_t *>(buffer);
    g_written.emplace_back(bytes, bytes + length);
    if (!g_answers.empty()) {
        g_input.insert(g_input.end(), g_answers.front().begin(), g_answers.front().end());
        g_answers.pop_front();
    }
    return static_cast<int>(length);
}

Uart g_line = {nullptr, nullptr, ScriptedRead, ScriptedWrite};

Bytes Packet(uint16_t command, const Bytes &data) {
    Bytes packet(kFmuSuperPacketHeader + kFmuSuperMaxData + 2);
    packet.resize(FmuSuper_BuildPacket(packet.data(), data.data(), static_cast<uint16_t>(data.size()), command));
    return packet;
}

Bytes EraseAnswer(uint16_t errorCode, uint16_t fragmentLength, uint16_t command = 0x0111, size_t length = 8) {
    Bytes data(length, 0xA5);
    tarn::StoreBe16(data.data(), errorCode);
    if (length >= 5) {
        tarn::StoreBe16(&data[3], fragmentLength);
    }
    return Packet(command, data);
}

Bytes Joined(std::initializer_list<Bytes> pieces) {
    Bytes joined;
    for (const Bytes &piece : pieces) {
        joined.insert(joined.end(), piece.begin(), piece.end());
    }
    return joined;
}

class FmuSuperLine : public testing::Test {
protected:
    void SetUp() override {
        g_input.clear();
        g_answers.clear();
        g_written.clear();
        FmuSuper_SetPort(&g_line);
    }
    void TearDown() override { FmuSuper_SetPort(nullptr); }
};

TEST(FmuSuperPacket, FieldsAreBigEndianWithXmodemCrcs) {
    EXPECT_EQ((Bytes{0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}), Packet(0x0000, {}));
    EXPECT_EQ((Bytes{0x02, 0x00, 0x01, 0x00, 0x00, 0x37, 0x30}), Packet(0x0001, {}));
    const Bytes digits = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
    const Bytes packet = Packet(0x0310, digits);
    ASSERT_EQ(7u + 9 + 2, packet.size());
    EXPECT_EQ((Bytes{0x02, 0x03, 0x10, 0x00, 0x09}), Bytes(packet.begin(), packet.begin() + 5));
    EXPECT_EQ(digits, Bytes(packet.begin() + 7, packet.end() - 2));
    EXPECT_EQ((Bytes{0x31, 0xC3}), Bytes(packet.end() - 2, packet.end())) << "CRC-16/XMODEM check value";
    EXPECT_EQ(kFmuSuperPacketHeader + kFmuSuperMaxData + 2, Packet(0x0310, Bytes(kFmuSuperMaxData, 1)).size());
}

TEST_F(FmuSuperLine, ReceiveKeepsTheDataCrcBehindTheLargestDataAndRefusesBadPackets) {
    uint8_t buffer[kFmuSuperRecvBuffer];
    memset(buffer, 0xEE, sizeof buffer);
    const Bytes answer = EraseAnswer(0, 512);
    g_input.assign(answer.begin(), answer.end());
    EXPECT_EQ(8, crc16RecvPacket(buffer, 10));
    EXPECT_EQ(Bytes(answer.begin(), answer.begin() + 15), Bytes(buffer, buffer + 15));
    EXPECT_EQ(Bytes(answer.end() - 2, answer.end()), Bytes(buffer + 2071, buffer + 2073));
    EXPECT_EQ(0xEE, buffer[15]) << "nothing written behind the data";

    struct Case {
        const char *what;
        Bytes bytes;
        std::string lines;
    };
    Bytes badHeader = answer;
    badHeader[6] ^= 1;
    Bytes badData = answer;
    badData.back() ^= 1;
    Bytes tooLong = Packet(0x0111, {});
    tarn::StoreBe16(&tooLong[3], 0x811);
    tooLong = Bytes(tooLong.begin(), tooLong.begin() + 5);
    const Case cases[] = {
        {"silence", {}, WarnLine("read null.\n") + ErrorLine("expect 0x1, iRet = 0\n")},
        {"wrong start", {0x03}, ErrorLine("fisrt byte is 0x3 not 0x02\n")},
        {"header CRC", badHeader, ErrorLine("crc error\n")},
        {"data CRC", badData, ErrorLine("crc error\n")},
        {"length past the largest", tooLong, ErrorLine("packet length(0x811) is out of range 0x810\n")},
        {"more data than a read takes", Packet(0x0111, Bytes(513, 7)), ErrorLine("expect 0x201, iRet = 0xffffffff\n")},
        {"data cut short", Bytes(answer.begin(), answer.begin() + 10),
         WarnLine("read null.\n") + ErrorLine("expect 0x8, iRet = 0x0\n")},
        {"command cut short", {0x02, 0x01}, WarnLine("read null.\n") + ErrorLine("expect 0x2, iRet = 0x0\n")},
    };
    for (const Case &item : cases) {
        g_input.assign(item.bytes.begin(), item.bytes.end());
        StdoutCapture capture;
        EXPECT_EQ(-1, crc16RecvPacket(buffer, 10)) << item.what;
        EXPECT_EQ(item.lines, WithoutLocations(capture.Finish())) << item.what;
    }
}

TEST_F(FmuSuperLine, EraseAcceptsWholeFragmentsUpTo2048AndCountsEveryAttempt) {
    for (const uint16_t length : {512, 1024, 2048}) {
        g_answers = {EraseAnswer(0, length)};
        EXPECT_EQ(0, fmu_erase()) << length;
        EXPECT_EQ(length, FmuSuper_FragmentLength());
    }
    const Bytes empty = Packet(0x0111, {});
    struct Case {
        const char *what;
        Bytes answer;
        std::string lines;
    };
    const Case cases[] = {
        {"0x300", EraseAnswer(0, 0x300), ErrorLine(" FragLen(0x300) is error\n")},
        {"4096", EraseAnswer(0, 4096), ErrorLine(" FragLen(0x1000) is error\n")},
        {"2560", EraseAnswer(0, 2560), ErrorLine(" FragLen(0xa00) is error\n")},
        {"0", EraseAnswer(0, 0), ErrorLine(" FragLen(0x0) is error\n")},
        {"negative", EraseAnswer(0, 0x8000), ErrorLine(" FragLen(0xffff8000) is error\n")},
        {"error code", EraseAnswer(5, 512), ErrorLine(" expect errorcode 0x00, recive errorcode  0x5\n")},
        {"command", EraseAnswer(0, 512, 0x0311), ErrorLine(" expect CMD 0x111, recive cmd 0x311\n")},
        {"length", EraseAnswer(0, 512, 0x0111, 4), ErrorLine(" expect Length 0x08, recive length 0x4\n")},
        {"two empty answers first", Joined({empty, empty, EraseAnswer(0, 1024)}), ""},
        {"three empty answers first", Joined({empty, empty, empty, EraseAnswer(0, 1024)}),
         ErrorLine(" erase command response error\n")},
    };
    for (const Case &item : cases) {
        g_input.clear();
        g_answers = {item.answer};
        g_written.clear();
        StdoutCapture capture;
        EXPECT_EQ(item.lines.empty() ? 0 : -1, fmu_erase()) << item.what;
        EXPECT_EQ(item.lines, WithoutLocations(capture.Finish())) << item.what;
        ASSERT_EQ(1u, g_written.size()) << item.what;
        EXPECT_EQ(0x0110, tarn::LoadBe16(&g_written[0][1]));
    }
}

TEST_F(FmuSuperLine, FinishDiscardsStaleInputAndWantsAnEmptyAnswer) {
    // A stale answer waiting on the line is not taken for the finish answer.
    const Bytes stale = Packet(0x0311, {0, 0, 0, 0});
    struct Case {
        const char *what;
        Bytes answer;
        std::string lines;
    };
    const Case cases[] = {
        {"good", Packet(0x0401, {}), ""},
        {"data", Packet(0x0401, {0, 1}), ErrorLine(" expect Length 0x00, recive length 0x2\n")},
        {"command", Packet(0x0311, {}), ErrorLine(" expect CMD 0x401, recive cmd 0x311\n")},
        {"none",
         {},
         WarnLine("read null.\n") + ErrorLine("expect 0x1, iRet = 0\n") +
             ErrorLine("receive finish command response failed\n")},
    };
    for (const Case &item : cases) {
        g_input.assign(stale.begin(), stale.end());
        g_answers = {item.answer};
        g_written.clear();
        StdoutCapture capture;
        EXPECT_EQ(item.lines.empty() ? 0 : -1, fmu_verify()) << item.what;
        EXPECT_EQ(item.lines, WithoutLocations(capture.Finish())) << item.what;
        EXPECT_EQ(std::vector<Bytes>{Packet(0x0400, {})}, g_written) << item.what;
    }
}

TEST_F(FmuSuperLine, HandshakeRepeatsUntilAnswered) {
    g_answers = {Bytes{}, Packet(0x0003, {}), Packet(0x0001, {})};
    StdoutCapture capture;
    EXPECT_EQ(0, fmu_sync());
    EXPECT_EQ(WarnLine("read null.\n") + ErrorLine("expect 0x1, iRet = 0\n") + "HandShake \n",
              WithoutLocations(capture.Finish()));
    EXPECT_EQ(std::vector<Bytes>(3, Packet(0x0000, {})), g_written);
}

TEST(FmuSuperHeader, ImageLengthMayFallShortOfTheBodyByFifteenBytes) {
    constexpr uint32_t kFile = 1000;
    Bytes file(kFile + 60, 0xFF);
    memcpy(file.data(), "OrvoxPelicarnSmartSystem", 24);
    tarn::StoreBe16(&file[28], 1);
    const auto check = [&](uint32_t imageLength) {
        tarn::StoreBe32(&file[24], imageLength);
        return FmuSuper_CheckHeader(file.data(), file.size(), kFile);
    };
    StdoutCapture capture;
    EXPECT_EQ(0, check(744));
    EXPECT_EQ(0, check(729));
    EXPECT_EQ("", capture.SoFar());
    EXPECT_EQ(-1, check(728));
    EXPECT_EQ(-1, check(745));
    tarn::StoreBe16(&file[28], 0x100);
    EXPECT_EQ(-1, check(744));
    file[23] = 'M';
    EXPECT_EQ(-1, check(744));
    EXPECT_EQ(-1, FmuSuper_CheckHeader(file.data(), file.size(), 0));
    // Shorter than its header, with the length that 32-bit arithmetic would let through.
    file[23] = 'm';
    tarn::StoreBe16(&file[28], 1);
    tarn::StoreBe32(&file[24], 100u - 256u);
    EXPECT_EQ(-1, FmuSuper_CheckHeader(file.data(), file.size(), 100));
    EXPECT_EQ(ErrorLine("file len is out of range\n") + ErrorLine("file len is out of range\n") +
                  ErrorLine("filetype (0x100) error\n") + ErrorLine("we havenot read file \n") +
                  ErrorLine("file len is out of range\n"),
              WithoutLocations(capture.Finish()));
}

} // namespace
