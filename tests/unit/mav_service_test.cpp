// The MAVLink receive service on a pseudo-terminal: routing by device, the overlay of a full group, the order
// of takes after a wrap, frames split among noise and bad checksums.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "console_capture.h"
#include "mav.h"
#include "tarn_bench_namespace.h"
#include "tarn_bench_sim_port.h"
#include "test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;
using tarn::bench::SimPort;
using test_support::WaitUntil;

Bytes Frame(uint8_t messageId, const Bytes &payload) {
    MavlinkChannels channels{};
    MavlinkMessage message{};
    message.messageId = messageId;
    std::copy(payload.begin(), payload.end(), message.payload);
    Mavlink_FinalizeMessage(&channels, &message, 1, 1, 0, static_cast<uint8_t>(payload.size()),
                            Mavlink_GetCrcExtra(messageId));
    uint8_t buffer[kMavlinkMaxFrameLength];
    const uint16_t length = Mavlink_MsgToSendBuffer(buffer, &message);
    return Bytes(buffer, buffer + length);
}

Bytes Heartbeat(uint8_t marker) {
    return Frame(0, {marker, 0, 0, 0, 2, 3, 0x51, 4, 3});
}

class MavServiceTest : public testing::Test {
protected:
    void SetUp() override {
        port_ = SimPort::Create();
        ASSERT_TRUE(port_);
        ASSERT_EQ(0, tarn::bench::AttachSerialDevice(0, *port_));
        ASSERT_EQ(0, Mav_Init());
        MavlinkMessage message{};
        while (Mav_GetAnyMsg(&message) == 1 || Mav_GetFmuMsg(&message) == 1 || Mav_GetBmsMsg(&message) == 1) {
        }
    }
    void TearDown() override { Mav_Deinit(); }

    // Waits until the any ring holds count messages and returns them, oldest first.
    static std::vector<MavlinkMessage> TakeAny(size_t count) {
        std::vector<MavlinkMessage> taken;
        WaitUntil([&] {
            MavlinkMessage message{};
            while (Mav_GetAnyMsg(&message) == 1) {
                taken.push_back(message);
            }
            return taken.size() >= count;
        });
        return taken;
    }

    std::unique_ptr<SimPort> port_;
};

TEST_F(MavServiceTest, RoutesByDeviceAndWarnsForAnInvalidOne) {
    StdoutCapture capture;
    ASSERT_EQ(static_cast<int>(Heartbeat(1).size()), port_->Write(Heartbeat(1)));
    const Bytes toBattery = Frame(200, {0x10, 0, 0, 0, 3, 0});
    port_->Write(toBattery);
    port_->Write(Frame(219, {7, 1}));
    ASSERT_EQ(3u, TakeAny(3).size());
    const std::string output = WithoutLocations(capture.Finish());
    EXPECT_NE(std::string::npos, output.find("invalid device id: 7.\n")) << output;
    MavlinkMessage message{};
    ASSERT_EQ(1u, Mav_GetFmuMsg(&message));
    EXPECT_EQ(0, message.messageId);
    EXPECT_EQ(9u + 8u, Mav_GetMsgLen(&message));
    EXPECT_EQ(0u, Mav_GetFmuMsg(&message));
    ASSERT_EQ(1u, Mav_GetBmsMsg(&message));
    EXPECT_EQ(200, message.messageId);
    // Bytes past the payload and its checksum read as zeros.
    EXPECT_EQ(0, message.payload[toBattery.size()]);
    EXPECT_EQ(0u, Mav_GetImuMsg(&message));
}

TEST_F(MavServiceTest, The33rdMessageOverlaysTheFirstAndTakesStayOldestFirst) {
    StdoutCapture capture;
    Bytes stream;
    for (uint8_t marker = 0; marker < 33; ++marker) {
        const Bytes frame = Heartbeat(marker);
        stream.insert(stream.end(), frame.begin(), frame.end());
    }
    port_->Write(stream);
    ASSERT_EQ(33u, TakeAny(33).size());
    const std::string output = capture.Finish();
    EXPECT_NE(std::string::npos, output.find("overlay fmu msg: \033")) << output;
    EXPECT_NE(std::string::npos, output.find("0xfe 0x09 0x00 0x01 0x01 0x00 0x00 0x00 ")) << output;
    MavlinkMessage message{};
    for (uint8_t marker = 1; marker < 33; ++marker) {
        ASSERT_EQ(1u, Mav_GetFmuMsg(&message));
        EXPECT_EQ(marker, message.payload[0]);
    }
    EXPECT_EQ(0u, Mav_GetFmuMsg(&message));
}

TEST_F(MavServiceTest, FramesSplitAmongNoiseAndBadChecksumsAreFound) {
    Bytes broken = Heartbeat(9);
    broken[broken.size() - 1] ^= 0x01;
    Bytes stream = {0x00, 0x13, 0x55};
    stream.insert(stream.end(), broken.begin(), broken.end());
    for (uint8_t marker : {uint8_t{1}, uint8_t{2}}) {
        const Bytes frame = Heartbeat(marker);
        stream.insert(stream.end(), frame.begin(), frame.end());
        stream.push_back(0x42);
    }
    for (size_t offset = 0; offset < stream.size(); offset += 3) {
        port_->Write(stream.data() + offset, std::min<size_t>(3, stream.size() - offset));
    }
    const std::vector<MavlinkMessage> taken = TakeAny(2);
    ASSERT_EQ(2u, taken.size());
    EXPECT_EQ(1, taken[0].payload[0]);
    EXPECT_EQ(2, taken[1].payload[0]);
}

} // namespace
