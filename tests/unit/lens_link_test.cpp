// The lens link against the bench's lens on a pseudo-terminal: its port, lock and thread, payload byte orders,
// replies cut to the caller's buffer, the 1 ms acknowledgement wait, and frames of another device.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "console_capture.h"
#include "tarn_bench_namespace.h"
#include "tarn_bench_sim_lens.h"
#include "tarn_bench_sim_port.h"
#include "tarn_lens.h"
#include "tarn_lens_link.h"
#include "test_support.h"

namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<uint8_t>;
using tarn::bench::LensSimulator;
using tarn::bench::SimPort;
using test_support::MlinkPayloadOf;

class LensLinkTest : public testing::Test {
protected:
    void SetUp() override {
        port_ = SimPort::Create();
        ASSERT_TRUE(port_);
        ASSERT_EQ(0, tarn::bench::AttachSerialDevice(3, *port_));
        lens_ = std::make_unique<LensSimulator>(*port_);
    }

    void TearDown() override {
        if (pOps_ != nullptr) {
            Lens_Delete(&pOps_);
        }
        lens_.reset();
    }

    std::unique_ptr<SimPort> port_;
    std::unique_ptr<LensSimulator> lens_;
    LensOps *pOps_ = nullptr;
};

TEST_F(LensLinkTest, OpensTtyS3WithoutAProjectAndItsOwnLockAndThread) {
    ASSERT_EQ(0, lens_->Start());
    StdoutCapture capture;
    ASSERT_EQ(0, Lens_Create(&pOps_));
    EXPECT_EQ(InfoLine("create mutex 'lens' sucess.\n") + InfoLine("create thread 'lens_recv' success.\n"),
              WithoutLocations(capture.Finish()));
    ASSERT_EQ(0, pOps_->LoopTest());
    EXPECT_EQ((Bytes{0xAA, 0x09, 0x01, 0x00, 0x00, 0xB4}), lens_->FramesOf(0x01).at(0));
    EXPECT_EQ(1, Lens_Link().Users());
}

TEST_F(LensLinkTest, PositionsGoOutBigEndianAndComeBackLittleEndian) {
    ASSERT_EQ(0, lens_->Start());
    ASSERT_EQ(0, Lens_Create(&pOps_));
    lens_->SetPosition(0x86, 0x1234);
    int16_t position = 0;
    ASSERT_EQ(0, pOps_->GetShutterPos(&position));
    EXPECT_EQ(0x1234, position);
    ASSERT_EQ(0, pOps_->MoveZoom(0x0102, 7));
    ASSERT_EQ(0, pOps_->MoveIris(0x0304, 8));
    ASSERT_EQ(0, pOps_->MoveShutter(0x0506, 9));
    EXPECT_EQ((Bytes{0x01, 0x02, 0x07}), MlinkPayloadOf(lens_->FramesOf(0x03).at(0)));
    EXPECT_EQ((Bytes{0x03, 0x04, 0x08}), MlinkPayloadOf(lens_->FramesOf(0x06).at(0)));
    EXPECT_EQ((Bytes{0x05, 0x06, 0x09}), MlinkPayloadOf(lens_->FramesOf(0x07).at(0)));
    EXPECT_EQ(0x0506, lens_->Position(0x86));

    lens_->SetState(0x82, 0xFE);
    uint32_t state = 0;
    ASSERT_EQ(0, pOps_->GetZoomPiState(&state));
    EXPECT_EQ(0xFEu, state);
}

TEST_F(LensLinkTest, RepliesAreCutToTheCallersBufferAndTheFlashAddressIsBigEndian) {
    ASSERT_EQ(0, lens_->Start());
    ASSERT_EQ(0, Lens_Create(&pOps_));
    lens_->SetVersion(0x60, "SOFTWARE-VERSION-1.2.3");
    uint8_t buffer[16] = {};
    EXPECT_EQ(15, pOps_->GetSoftVersion(buffer, 15));
    EXPECT_EQ(std::string("SOFTWARE-VERSIO"), reinterpret_cast<const char *>(buffer));
    lens_->SetVersion(0x61, "HW2");
    uint8_t hard[16] = {};
    EXPECT_EQ(3, pOps_->GetHardVersion(hard, 15));
    EXPECT_EQ(std::string("HW2"), reinterpret_cast<const char *>(hard));

    ASSERT_EQ(0, pOps_->SetFlashBit(0x011A, 0x5A));
    EXPECT_EQ((Bytes{0x01, 0x1A, 0x5A}), MlinkPayloadOf(lens_->FramesOf(0xF2).at(0)));
    EXPECT_EQ(0x5A, lens_->FlashByte(0x011A));
    uint8_t data[4] = {};
    EXPECT_EQ(4, pOps_->GetFlashData(0x0119, data, sizeof(data)));
    EXPECT_EQ((Bytes{0x01, 0x19}), MlinkPayloadOf(lens_->FramesOf(0xF1).at(0)));
    EXPECT_EQ((Bytes{0xFF, 0x5A, 0xFF, 0xFF}), Bytes(data, data + 4));
}

TEST_F(LensLinkTest, SilentLensGivesUpAfterAbout2000PollsOf1Ms) {
    lens_->SetSilent(true);
    ASSERT_EQ(0, lens_->Start());
    ASSERT_EQ(0, Lens_Create(&pOps_));
    int16_t position = 77;
    StdoutCapture capture;
    const auto before = std::chrono::steady_clock::now();
    EXPECT_EQ(-1, pOps_->GetIrisPos(&position));
    const auto waited = std::chrono::steady_clock::now() - before;
    EXPECT_EQ(WarnLine("wait recv [0x09 0x85 0x00] msg timeout.\n") + ErrorLine("send msg but no ack.\n"),
              WithoutLocations(capture.Finish()));
    EXPECT_EQ(77, position) << "a failed get leaves the caller's variable alone";
    EXPECT_GE(waited, 2000ms);
    EXPECT_LT(waited, 10s);
}

TEST_F(LensLinkTest, GimbalFrameOnTheLensLineIsSkippedWithItsDeviceId) {
    ASSERT_EQ(0, Lens_Create(&pOps_));
    StdoutCapture capture;
    const Bytes gimbalFrame = {0xAA, 0x05, 0x01, 0x00, 0x00, 0xB0};
    ASSERT_EQ(static_cast<int>(gimbalFrame.size()), port_->Write(gimbalFrame));
    // A reply after it is still taken: the parser waits for the next start byte.
    const Bytes reply = {0xAA, 0x09, 0x84, 0x00, 0x02, 0x10, 0x00, 0xAA + 0x09 + 0x84 + 0x02 + 0x10 - 0x100};
    ASSERT_EQ(static_cast<int>(reply.size()), port_->Write(reply));
    int16_t position = 0;
    EXPECT_EQ(0, pOps_->GetZoomPos(&position));
    EXPECT_EQ(16, position);
    EXPECT_EQ(WarnLine("MLINK_DEVID error, 0x5.\n"), WithoutLocations(capture.Finish()));
}

} // namespace
