// upgrade_of and upgrade_bms against their simulated bootloaders.
#include "bench_fixture.h"
#include "console_lines.h"
#include "tarn_bench_sim_flow_battery.h"
#include "tarn_byte_order.h"

namespace {

using namespace bench_test;
using tarn::bench::FlowBatterySimulator;
using tarn::bench::PortSide;
using Bytes = std::vector<uint8_t>;
using Device = FlowBatterySimulator::Device;

constexpr auto kRunLimit = 60s;

Bytes Image(size_t size) {
    return TestImage(size, 11, 5);
}

class DeviceUpgradeTest : public DeviceLineTest<FlowBatterySimulator> {
protected:
    std::vector<uint32_t> Codes(int kind) const {
        std::vector<uint32_t> codes;
        for (const tarn::bench::ReceivedFrame &frame : Sim().FramesOfKind(kind)) {
            codes.push_back(tarn::LoadLe32(&frame.bytes[6]));
        }
        return codes;
    }
    std::vector<uint8_t> FlagValues(size_t expected) const {
        Sim().WaitForFrames(FlowBatterySimulator::kFlag, expected, 5s);
        std::vector<uint8_t> values;
        for (const tarn::bench::ReceivedFrame &frame : Sim().FramesOfKind(FlowBatterySimulator::kFlag)) {
            values.push_back(frame.bytes[7]);
        }
        return values;
    }
};

class UpgradeOfTest : public DeviceUpgradeTest {
protected:
    void SetUp() override {
        BenchTest::SetUp();
        Attach(0, Device::Flow);
    }
};

class UpgradeBmsTest : public DeviceUpgradeTest {
protected:
    void SetUp() override {
        BenchTest::SetUp();
        Attach(0, Device::Battery);
    }
};

using UpgradeBmsSlow = UpgradeBmsTest;

const std::string kOfSteps[] = {"step 1: prepare.\n", "step 2: set app info.\n", "step 3: request upgrade.\n",
                                "step 4: erase flash.\n", "step 5: program flash.\n"};

std::string OfStepsUpToProgram() {
    std::string lines;
    for (const std::string &step : kOfSteps) {
        lines += InfoLine(step);
    }
    return lines;
}

std::string OfRun(const std::string &progress) {
    return OfStepsUpToProgram() + progress + "\n" + InfoLine("step 6: verify flash.\n") +
           InfoLine("step 7: run to app.\n");
}

// An acknowledgement that did not come, and the retry it starts.
std::string LostAck() {
    return WarnLine("read timeout.\n") + WarnLine("recv data fail.\n") +
           WarnLine("send data but no ack, try it again.\n");
}

TEST_F(UpgradeOfTest, Programs240BytesAsTwoBlocksTheLastWithItsOwnCode) {
    PlaceFile("of.bin", Image(240));
    const ToolRun run = Run("upgrade_of", {"of.bin"}, kRunLimit);

    EXPECT_EQ(0, run.exitStatus) << run.out;
    EXPECT_EQ(BeginLine("of.bin", 240) + OfRun("\r50.0% \r100.0% "), WithoutLocations(run.out));
    Bytes padded = Image(240);
    padded.resize(480, 0x00);
    EXPECT_EQ(padded, Sim().Programmed());
    EXPECT_EQ(480u, Sim().AnnouncedLength());
    EXPECT_TRUE(Sim().Running());
    EXPECT_EQ((std::vector<uint32_t>{0x0F010109, 0x0F01010A}), Codes(FlowBatterySimulator::kData));
    EXPECT_EQ(std::vector<uint8_t>{1}, FlagValues(1)) << "no flag after a successful run";
    EXPECT_TRUE(Sim().Complaints().empty());
}

TEST_F(UpgradeOfTest, A100ByteImageIsOneLastBlockAndShortAckCodesCount) {
    Sim().SetShortAckCode(true);
    Sim().SetForeignAcks(1);
    PlaceFile("of.bin", Image(100));
    const ToolRun run = Run("upgrade_of", {"of.bin"}, kRunLimit);

    EXPECT_EQ(0, run.exitStatus) << run.out;
    EXPECT_EQ(BeginLine("of.bin", 100) + OfRun("\r100.0% "), WithoutLocations(run.out));
    EXPECT_EQ(240u, Sim().AnnouncedLength());
    EXPECT_EQ(std::vector<uint32_t>{0x0F01010A}, Codes(FlowBatterySimulator::kData));
}

TEST_F(UpgradeOfTest, StopsAtTheFirstRefusedBlockInOneRun) {
    Sim().RefuseBlocks(1);
    PlaceFile("of.bin", Image(240));
    const ToolRun run = Run("upgrade_of", {"of.bin"}, kRunLimit);

    EXPECT_EQ(255, run.exitStatus);
    EXPECT_EQ(BeginLine("of.bin", 240) + OfStepsUpToProgram() + WarnLine("read timeout.\n") +
                  WarnLine("recv data fail.\n") + ErrorLine("send data but no ack.\n") +
                  ErrorLine("program flash fail.\n") + ErrorLine("upgrade of fail.\n"),
              WithoutLocations(run.out));
    EXPECT_EQ((std::vector<uint8_t>{1, 0}), FlagValues(2));
    EXPECT_TRUE(Codes(FlowBatterySimulator::kData).empty()) << "no block data after the refused header";
}

TEST_F(UpgradeOfTest, AVerifyMismatchEndsTheOnlyRunWithFlagZero) {
    Sim().SetVerifyMismatch(true);
    PlaceFile("of.bin", Image(240));
    const ToolRun run = Run("upgrade_of", {"of.bin"}, kRunLimit);

    EXPECT_EQ(255, run.exitStatus);
    EXPECT_EQ(BeginLine("of.bin", 240) + OfStepsUpToProgram() + "\r50.0% \r100.0% \n" +
                  InfoLine("step 6: verify flash.\n") + WarnLine("read timeout.\n") + WarnLine("recv data fail.\n") +
                  ErrorLine("send data but no ack.\n") + ErrorLine("verify flash fail.\n") +
                  ErrorLine("upgrade of fail.\n"),
              WithoutLocations(run.out));
    EXPECT_EQ((std::vector<uint8_t>{1, 0}), FlagValues(2));
    EXPECT_FALSE(Sim().Running());
}

std::string BmsRun(const std::string &progress) {
    return InfoLine("step 1: enter bootload.\n") + InfoLine("step 2: request upgrade.\n") +
           InfoLine("step 3: erase flash.\n") + InfoLine("step 4: program flash.\n") + progress + "\n" +
           InfoLine("step 5: run to app.\n");
}

TEST_F(UpgradeBmsTest, Programs500BytesAsBlocksOf240240And20) {
    const Bytes image = Image(500);
    PlaceFile("bms.bin", image);
    const ToolRun run = Run("upgrade_bms", {"bms.bin"}, kRunLimit);

    EXPECT_EQ(0, run.exitStatus) << run.out;
    EXPECT_EQ(BeginLine("bms.bin", 500) + BmsRun("\r48.0% \r96.0% \r100.0% "), WithoutLocations(run.out));
    EXPECT_EQ(image, Sim().Programmed());
    EXPECT_TRUE(Sim().Running());
    EXPECT_EQ((std::vector<uint8_t>{1, 0}), FlagValues(2));
    EXPECT_TRUE(Sim().Complaints().empty());
}

TEST_F(UpgradeBmsTest, RefusesAnImageOf64KiBBeforeAnythingIsStoppedOrSent) {
    PlaceFile("bms.bin", Bytes(65536, 0x11));
    const ToolRun run = Run("upgrade_bms", {"bms.bin"});
    EXPECT_EQ(255, run.exitStatus);
    EXPECT_EQ(ErrorLine("get file buf fail.\n"), WithoutLocations(run.out));
    EXPECT_EQ("", Bench().KillallLog());
    EXPECT_TRUE(Port().BytesFrom(PortSide::Tool).empty());
}

TEST_F(UpgradeBmsSlow, UnansweredEntryGoesOnAndLostAcksAreRetriedThrice) {
    Sim().SetEntryUnanswered(true);
    Sim().IgnoreNext(FlowBatterySimulator::kData, 3);
    const Bytes image = Image(300);
    PlaceFile("bms.bin", image);
    const ToolRun run = Run("upgrade_bms", {"bms.bin"}, kRunLimit);

    EXPECT_EQ(0, run.exitStatus) << run.out;
    const std::string lost = LostAck();
    EXPECT_EQ(BeginLine("bms.bin", 300) + InfoLine("step 1: enter bootload.\n") + WarnLine("read timeout.\n") +
                  WarnLine("recv data fail.\n") + ErrorLine("send data but no ack.\n") +
                  WarnLine("enter bootload fail and try it again.\n") + InfoLine("step 2: request upgrade.\n") +
                  InfoLine("step 3: erase flash.\n") + InfoLine("step 4: program flash.\n") + lost + lost + lost +
                  "\r80.0% \r100.0% \n" + InfoLine("step 5: run to app.\n"),
              WithoutLocations(run.out));
    EXPECT_EQ(image, Sim().Programmed());
}

TEST_F(UpgradeBmsSlow, TheFourthLostAckEndsTheRunWithAWarningAndTheSecondRunPrograms) {
    Sim().IgnoreNext(FlowBatterySimulator::kData, 4);
    const Bytes image = Image(300);
    PlaceFile("bms.bin", image);
    const ToolRun run = Run("upgrade_bms", {"bms.bin"}, kRunLimit);

    EXPECT_EQ(0, run.exitStatus) << run.out;
    const std::string lost = LostAck();
    const std::string failedRun = InfoLine("step 1: enter bootload.\n") + InfoLine("step 2: request upgrade.\n") +
                                  InfoLine("step 3: erase flash.\n") + InfoLine("step 4: program flash.\n") + lost +
                                  lost + lost + lost + WarnLine("send data but no ack.\n") +
                                  ErrorLine("program flash fail.\n");
    EXPECT_EQ(BeginLine("bms.bin", 300) + failedRun + WarnLine("upgrade bms fail and try it again.\n") +
                  BmsRun("\r80.0% \r100.0% "),
              WithoutLocations(run.out));
    EXPECT_EQ((std::vector<uint8_t>{1, 0, 1, 0}), FlagValues(4));
    EXPECT_EQ(image, Sim().Programmed());
}

} // namespace
