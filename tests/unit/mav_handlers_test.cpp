// The MAVLink device handlers against the bench's telemetry source on a pseudo-terminal: the battery's three
// queries (answer, refusal, silence), handles shared by a second create, and create/delete cycles of all
// four handlers while the line streams every kind of message.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "console_capture.h"
#include "mav.h"
#include "tarn_bench_namespace.h"
#include "tarn_bench_sim_port.h"
#include "tarn_bench_sim_telemetry.h"
#include "tarn_byte_order.h"
#include "tarn_mav_bms.h"
#include "tarn_mav_fmu.h"
#include "tarn_mav_imu.h"
#include "tarn_mav_mcam.h"
#include "test_support.h"

namespace {

using namespace std::chrono_literals;
using tarn::bench::SimPort;
using tarn::bench::TelemetrySimulator;
using test_support::MillisecondsSince;

class MavHandlersTest : public testing::Test {
protected:
    void SetUp() override {
        port_ = SimPort::Create();
        ASSERT_TRUE(port_);
        ASSERT_EQ(0, tarn::bench::AttachSerialDevice(0, *port_));
        sim_ = std::make_unique<TelemetrySimulator>(*port_);
        sim_->SetStreaming(false);
        sim_->SetBatteryValues(0x0102, 0x0A0B, 87);
        ASSERT_EQ(0, sim_->Start());
    }
    void TearDown() override {
        Bms_Delete(&pBms_);
        sim_.reset();
    }

    // The battery query's request as it went over the line.
    std::vector<uint8_t> LastQuery() const {
        const std::vector<tarn::bench::ReceivedFrame> frames = sim_->FramesOfKind(200);
        return frames.empty() ? std::vector<uint8_t>() : frames.back().bytes;
    }

    std::unique_ptr<SimPort> port_;
    std::unique_ptr<TelemetrySimulator> sim_;
    BmsHandle *pBms_ = nullptr;
};

using MavHandlersSlow = MavHandlersTest;

TEST_F(MavHandlersTest, BatteryQueriesAnswerAfterOneAckPoll) {
    ASSERT_EQ(0, Bms_Create(&pBms_));
    // Late enough that the query's first look, right after sending, finds no answer even on a loaded machine.
    sim_->SetReplyDelay(200ms);
    uint32_t value = 0;
    const auto start = test_support::Clock::now();
    ASSERT_EQ(0, pBms_->GetAppVer(&value));
    const long long elapsed = MillisecondsSince(start);
    EXPECT_EQ(0x01020000u, value);
    // The query sees the answer at its next poll, a second later.
    EXPECT_GE(elapsed, 999);
    EXPECT_LE(elapsed, 3000);
    // DEVICE_COMMAND from system 0, component 0: code 0x0F0000D8, device 3, eight zero arguments.
    const std::vector<uint8_t> request = LastQuery();
    ASSERT_EQ(21u, request.size());
    EXPECT_EQ(std::vector<uint8_t>({0xFE, 13}), std::vector<uint8_t>(request.begin(), request.begin() + 2));
    EXPECT_EQ(std::vector<uint8_t>({0, 0, 200, 0xD8, 0, 0, 0x0F, 3, 0, 0, 0, 0, 0, 0, 0, 0}),
              std::vector<uint8_t>(request.begin() + 3, request.begin() + 19));

    ASSERT_EQ(0, pBms_->GetBldVer(&value));
    EXPECT_EQ(0x0A0B0000u, value);
    EXPECT_EQ(0xD7, LastQuery()[6]);
    ASSERT_EQ(0, pBms_->GetPercent(&value));
    EXPECT_EQ(87u, value);
    EXPECT_EQ(0xDA, LastQuery()[6]);
}

TEST_F(MavHandlersTest, ARefusalFailsTheQuery) {
    ASSERT_EQ(0, Bms_Create(&pBms_));
    sim_->SetBattery(TelemetrySimulator::Battery::Refuse);
    StdoutCapture capture;
    uint32_t value = 77;
    EXPECT_EQ(-1, pBms_->GetPercent(&value));
    EXPECT_EQ(77u, value);
    EXPECT_EQ(WarnLine("CMD NACK.\n") + ErrorLine("send data but no ack.\n"), WithoutLocations(capture.Finish()));
}

TEST_F(MavHandlersTest, ASecondCreateSharesTheHandleAndTheLastDeleteStopsTheService) {
    ASSERT_EQ(0, Bms_Create(&pBms_));
    BmsHandle *pSecond = nullptr;
    const auto start = test_support::Clock::now();
    ASSERT_EQ(0, Bms_Create(&pSecond));
    EXPECT_GE(MillisecondsSince(start), 999);
    EXPECT_EQ(pBms_, pSecond);
    Bms_Delete(&pSecond);
    EXPECT_EQ(nullptr, pSecond);
    Bms_Delete(&pSecond); // a null handle: nothing to drop
    uint32_t value = 0;
    EXPECT_EQ(0, pBms_->GetPercent(&value));
    Bms_Delete(&pBms_);
    Bms_Delete(&pBms_);
    // Stopped for good: the next create starts the service afresh, without the sharer's wait.
    const auto again = test_support::Clock::now();
    ASSERT_EQ(0, Bms_Create(&pBms_));
    EXPECT_LT(MillisecondsSince(again), 900);
    EXPECT_EQ(0, pBms_->GetAppVer(&value));
}

TEST_F(MavHandlersSlow, ASilentBatteryTimesOut) {
    ASSERT_EQ(0, Bms_Create(&pBms_));
    sim_->SetBattery(TelemetrySimulator::Battery::Silent);
    StdoutCapture capture;
    uint32_t value = 0;
    const auto start = test_support::Clock::now();
    EXPECT_EQ(-1, pBms_->GetBldVer(&value));
    EXPECT_GE(MillisecondsSince(start), 5000);
    EXPECT_LE(MillisecondsSince(start), 9000);
    EXPECT_EQ(ErrorLine("ack timeout.\n") + ErrorLine("send data but no ack.\n"), WithoutLocations(capture.Finish()));
}

TEST_F(MavHandlersTest, AllHandlersComeAndGoWhileTheLineStreams) {
    sim_->SetStreaming(true);
    sim_->SetExtras(true);
    StdoutCapture capture;
    for (int cycle = 0; cycle < 2; ++cycle) {
        FmuHandle *pFmu = nullptr;
        MavImuHandle *pImu = nullptr;
        McamHandle *pMcam = nullptr;
        ASSERT_EQ(0, Fmu_Create(&pFmu));
        ASSERT_EQ(0, MavImu_Create(&pImu));
        ASSERT_EQ(0, Mcam_Create(&pMcam));
        ASSERT_EQ(0, Bms_Create(&pBms_));
        EXPECT_EQ(0, pImu->Nop());
        EXPECT_EQ(0, pMcam->Nop());
        ASSERT_TRUE(test_support::WaitUntil([&] {
            FmuHeartbeat heartbeat{};
            pFmu->GetHeartbeat(&heartbeat);
            return heartbeat.mavlinkVersion == 3 && capture.SoFar().find("msgid=218") != std::string::npos;
        }));
        uint32_t value = 0;
        EXPECT_EQ(0, pBms_->GetPercent(&value));
        // Deleted in another order than created, so the service outlives the first handler to go.
        Mcam_Delete(&pMcam);
        Fmu_Delete(&pFmu);
        Bms_Delete(&pBms_);
        MavMavImu_Delete(&pImu);
        EXPECT_EQ(nullptr, pImu);
    }
    const std::string output = WithoutLocations(capture.Finish());
    // Ids the flight controller's handler does not process, the battery's DEVICE_DATA, an invalid device.
    EXPECT_NE(std::string::npos, output.find(WarnLine("unsupport process fmu mavlink msgid=2.\n"))) << output;
    EXPECT_NE(std::string::npos, output.find(WarnLine("unsupport process fmu mavlink msgid=3.\n")));
    EXPECT_NE(std::string::npos, output.find(WarnLine("unsupport process bms mavlink msgid=218.\n")));
    EXPECT_NE(std::string::npos, output.find(WarnLine("invalid device id: 7.\n")));
    // The IMU and camera handlers keep their groups empty, silently.
    for (const char *group : {"imu", "flow", "bms"}) {
        EXPECT_EQ(std::string::npos, output.find(std::string("overlay ") + group)) << output;
    }
    EXPECT_EQ(std::string::npos, output.find("bms mavlink msgid=219")) << output;
    EXPECT_EQ(std::string::npos, output.find("unsupport process bms mavlink msgid=200"));
}

} // namespace
