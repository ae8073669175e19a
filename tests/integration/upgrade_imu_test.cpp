// upgrade_imu against the simulated IMU bootloader: wire messages, console lines, exit statuses.
#include "bench_fixture.h"
#include "console_lines.h"
#include "tarn_bench_sim_imu.h"
#include "tarn_byte_order.h"

namespace {

using namespace bench_test;
using tarn::bench::ImuSimulator;
using tarn::bench::PortSide;
using Bytes = std::vector<uint8_t>;

const char kSiblingsStopped[] = "-9 AirLinkRelay\n-9 media_srv.out\n";
constexpr auto kRunLimit = 60s;

Bytes Image(size_t size) {
    return TestImage(size, 7, 3);
}

std::string HealthyRun(const std::string &progress) {
    return InfoLine("step 1: prepare.\n") + InfoLine("step 2: erase flash.\n") + InfoLine("step 3: program flash\n") +
           progress + "\n" + InfoLine("step 4: set app info.\n") + InfoLine("step 5: run to app.\n");
}

class UpgradeImuTest : public DeviceLineTest<ImuSimulator> {
protected:
    void SetUp() override {
        BenchTest::SetUp();
        Attach(0);
    }

    // The payloads of the device messages of one kind, in the order they came.
    std::vector<Bytes> Payloads(int kind) const {
        std::vector<Bytes> payloads;
        for (const tarn::bench::ReceivedFrame &frame : Sim().FramesOfKind(kind)) {
            payloads.emplace_back(frame.bytes.begin() + 6, frame.bytes.end() - 2);
        }
        return payloads;
    }
    // The flag's value after the last message the tool sent (written last, so it may still be on its way).
    std::vector<uint8_t> FlagValues(size_t expected) const {
        Sim().WaitForFrames(ImuSimulator::kFlag, expected, 5s);
        std::vector<uint8_t> values;
        for (const Bytes &payload : Payloads(ImuSimulator::kFlag)) {
            values.push_back(payload[1]);
        }
        return values;
    }
};

using UpgradeImuSlow = UpgradeImuTest;

TEST_F(UpgradeImuTest, Programs240BytesAsTwoBlocksWritesAppInfoAndRuns) {
    const Bytes image = Image(240);
    PlaceFile("imu.bin", image);
    const ToolRun run = Run("upgrade_imu", {"imu.bin"}, kRunLimit);

    EXPECT_EQ(0, run.exitStatus) << run.out;
    EXPECT_EQ(BeginLine("imu.bin", 240) + HealthyRun("\r50.0% \r100.0% "), WithoutLocations(run.out));
    EXPECT_EQ(kSiblingsStopped, Bench().KillallLog());
    EXPECT_TRUE(Sim().Complaints().empty());

    // The padded image: the second block is all zero.
    Bytes padded = image;
    padded.resize(480, 0x00);
    EXPECT_EQ(padded, Sim().Programmed());
    EXPECT_TRUE(Sim().Running());
    EXPECT_EQ((std::vector<uint8_t>{1, 0}), FlagValues(2));

    const std::vector<Bytes> commands = Payloads(ImuSimulator::kCommand);
    ASSERT_EQ(6u, commands.size());
    EXPECT_EQ(0x08008200u, tarn::LoadLe32(&commands[2][6]));
    EXPECT_EQ(0x080082F0u, tarn::LoadLe32(&commands[3][6]));
    EXPECT_EQ((Bytes{0x85, 0x04, 0, 0, 1, 0x04, 0xFF, 0xFF, 0xFF, 0xFF, 0xB7, 0, 0}), commands[4]);

    const Bytes appInfo = Sim().AppInfo();
    ASSERT_EQ(184u, appInfo.size());
    EXPECT_EQ((Bytes{0xad, 0xde, 0xad, 0xde, 0xed, 0xda, 0xed, 0xda, 0xFF}),
              Bytes(appInfo.begin(), appInfo.begin() + 9));
    EXPECT_EQ(std::string("VA000.0"), std::string(reinterpret_cast<const char *>(&appInfo[168])));

    // Every frame went out from system 0, component 0, at its frame length, with sequence numbers in order.
    const Bytes wire = Port().BytesFrom(PortSide::Tool);
    size_t frames = 0;
    for (size_t at = 0; at < wire.size(); at += wire[at + 1] + 8u, ++frames) {
        ASSERT_EQ(0xFE, wire[at]);
        EXPECT_EQ(frames, wire[at + 2]);
        EXPECT_EQ(0, wire[at + 3]);
        EXPECT_EQ(0, wire[at + 4]);
    }
    EXPECT_EQ(11u, frames) << "flag, prepare, erase, two headers and blocks, app info header and record, run, flag";
}

TEST_F(UpgradeImuTest, SkipsRefusedAcknowledgementsAndTelemetry) {
    Sim().SetForeignAcks(2);
    Sim().SetTelemetry(true);
    PlaceFile("imu.bin", Image(500));
    const ToolRun run = Run("upgrade_imu", {"imu.bin"}, kRunLimit);

    EXPECT_EQ(0, run.exitStatus) << run.out;
    EXPECT_EQ(BeginLine("imu.bin", 500) + HealthyRun("\r33.3% \r66.7% \r100.0% "), WithoutLocations(run.out));
    EXPECT_EQ(720u, Sim().Programmed().size());
}

TEST_F(UpgradeImuTest, RefusesUsageErrorsAndEmptyImagesBeforeAnythingIsStoppedOrSent) {
    const ToolRun usage = Run("upgrade_imu", {"a", "b"});
    EXPECT_EQ(255, usage.exitStatus);
    EXPECT_EQ("usage: \n| \neg: upgrade_imu [file_path] \n", usage.out);

    PlaceFile("empty.bin", {});
    const ToolRun empty = Run("upgrade_imu", {"empty.bin"});
    EXPECT_EQ(255, empty.exitStatus);
    EXPECT_EQ(ErrorLine("get file buf fail.\n"), WithoutLocations(empty.out));

    EXPECT_EQ("", Bench().KillallLog());
    EXPECT_TRUE(Port().BytesFrom(PortSide::Tool).empty());
}

TEST_F(UpgradeImuSlow, ThreeLostAcksAreRetriedTheFourthFailsTheRunAndTheSecondRunProgramsAgain) {
    Sim().IgnoreNext(ImuSimulator::kData, 4);
    PlaceFile("imu.bin", Image(240));
    const ToolRun run = Run("upgrade_imu", {"imu.bin"}, kRunLimit);

    EXPECT_EQ(0, run.exitStatus) << run.out;
    const std::string lost =
        WarnLine("read timeout.\n") + WarnLine("recv data fail.\n") + WarnLine("send data but no ack, try it again.\n");
    const std::string firstRun = InfoLine("step 1: prepare.\n") + InfoLine("step 2: erase flash.\n") +
                                 InfoLine("step 3: program flash\n") + lost + lost + lost + lost +
                                 ErrorLine("send data but no ack.\n") + ErrorLine("program fail.\n");
    EXPECT_EQ(BeginLine("imu.bin", 240) + firstRun + WarnLine("upgrade imu fail and try it again.\n") +
                  HealthyRun("\r50.0% \r100.0% "),
              WithoutLocations(run.out));
    EXPECT_EQ((std::vector<uint8_t>{1, 0, 1, 0}), FlagValues(4));

    // A retried block carries the same scrambled bytes.
    const std::vector<Bytes> data = Payloads(ImuSimulator::kData);
    ASSERT_GE(data.size(), 4u);
    for (size_t attempt = 1; attempt < 4; ++attempt) {
        EXPECT_EQ(data[0], data[attempt]);
    }
    Bytes padded = Image(240);
    padded.resize(480, 0x00);
    EXPECT_EQ(padded, Sim().Programmed());
}

TEST_F(UpgradeImuSlow, SilentImuFailsBothRuns) {
    Sim().SetSilent(true);
    PlaceFile("imu.bin", Image(240));
    const ToolRun run = Run("upgrade_imu", {"imu.bin"}, kRunLimit);

    EXPECT_EQ(255, run.exitStatus);
    const std::string failedRun = InfoLine("step 1: prepare.\n") + WarnLine("read timeout.\n") +
                                  WarnLine("recv data fail.\n") + ErrorLine("send data but no ack.\n") +
                                  ErrorLine("prepare fail.\n");
    EXPECT_EQ(BeginLine("imu.bin", 240) + failedRun + WarnLine("upgrade imu fail and try it again.\n") + failedRun +
                  ErrorLine("upgrade imu fail.\n"),
              WithoutLocations(run.out));
}

TEST_F(UpgradeImuSlow, TelemetryThatNeverFallsSilentEndsEachWaitAfterTenSeconds) {
    Sim().SetSilent(true);
    Sim().SetTelemetry(true);
    PlaceFile("imu.bin", Image(240));
    const ToolRun run = Run("upgrade_imu", {"imu.bin"}, 90s);

    EXPECT_EQ(255, run.exitStatus);
    const std::string failedRun = InfoLine("step 1: prepare.\n") + ErrorLine("ack timeout.\n") +
                                  ErrorLine("send data but no ack.\n") + ErrorLine("prepare fail.\n");
    EXPECT_EQ(BeginLine("imu.bin", 240) + failedRun + WarnLine("upgrade imu fail and try it again.\n") + failedRun +
                  ErrorLine("upgrade imu fail.\n"),
              WithoutLocations(run.out));
    // Two waits of 10 s, two 500 ms flag pauses and the 1 s pause between the runs.
    EXPECT_GE(run.elapsed, 21999ms);
    EXPECT_LT(run.elapsed, 40s);
}

} // namespace
