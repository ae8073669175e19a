// upgrade_rc and upgrade_rf against the simulated RC/RF module: frames on the wire, console lines, exit statuses.
#include <sys/stat.h>

#include "bench_fixture.h"
#include "console_lines.h"
#include "tarn_bench_sim_rcrf.h"

namespace {

using namespace bench_test;
using tarn::bench::PortSide;
using tarn::bench::RcrfSimulator;
using Bytes = std::vector<uint8_t>;

constexpr auto kRunLimit = 60s;

Bytes Image(size_t size) {
    return TestImage(size, 13, 1);
}

const std::string kUpToProgram = InfoLine("step 1: jump to bootload.\n") + InfoLine("step 2: request upgrade.\n") +
                                 InfoLine("step 3: set app info.\n") + InfoLine("step 4: erase flash.\n") +
                                 InfoLine("step 5: program flash.\n");

std::string HealthyRun(const std::string &progress) {
    return kUpToProgram + progress + InfoLine("step 6: jump to app.\n");
}

// A request the module left unanswered for 2 s.
const std::string kSilence = WarnLine("read timeout.\n") + ErrorLine("invalid ack\n");

class UpgradeRcrfTest : public DeviceLineTest<RcrfSimulator> {
protected:
    void Attach(uint8_t moduleId) {
        module_ = moduleId;
        DeviceLineTest::Attach(0, RcrfSimulator::Generation::First, moduleId, moduleId);
    }
    void SetUp() override {
        BenchTest::SetUp();
        Attach(1);
    }

    // Command and sequence bytes of every frame the module took, in order.
    std::vector<std::pair<int, int>> Frames() const {
        std::vector<std::pair<int, int>> frames;
        for (const tarn::bench::ReceivedFrame &frame : Sim().Frames()) {
            frames.emplace_back(frame.kind, frame.kind == RcrfSimulator::kJumpToBootloader ? -1 : frame.bytes[3]);
        }
        return frames;
    }

    uint8_t module_ = 1;
};

using UpgradeRcrfSlow = UpgradeRcrfTest;
constexpr int kJump = -1;

TEST_F(UpgradeRcrfTest, Programs500BytesInFramesOf240240And20SkippingAcksThatAreNotOurs) {
    Sim().SetForeignAcks(3);
    const Bytes image = Image(500);
    PlaceFile("rc.bin", image);
    const ToolRun run = Run("upgrade_rc", {"rc.bin"}, kRunLimit);

    EXPECT_EQ(0, run.exitStatus) << run.out;
    EXPECT_EQ(BeginLine("rc.bin", 500) + HealthyRun("\r48.0%\r96.0%\r100.0%"), WithoutLocations(run.out));
    EXPECT_EQ("txlinkstate\n", Bench().KillallLog());
    EXPECT_EQ(image, Sim().Programmed(module_));
    EXPECT_EQ(500u, Sim().AnnouncedSize(module_));
    EXPECT_TRUE(Sim().Running(module_));
    EXPECT_TRUE(Sim().Complaints().empty());

    const Bytes wire = Port().BytesFrom(PortSide::Tool);
    ASSERT_GE(wire.size(), 10u);
    EXPECT_EQ((Bytes{0xaa, 0xe0, 0x00, 0x8c, 0xaa, 0x01, 0x00, 0x00, 0x00, 0x38}),
              Bytes(wire.begin(), wire.begin() + 10));
    using RS = RcrfSimulator;
    EXPECT_EQ((std::vector<std::pair<int, int>>{{RS::kJumpToBootloader, kJump},
                                                {RS::kRequest, 0},
                                                {RS::kAppInfo, 1},
                                                {RS::kErase, 2},
                                                {RS::kProgram, 3},
                                                {RS::kProgram, 4},
                                                {RS::kProgramLast, 5},
                                                {RS::kJumpToApp, 6}}),
              Frames());
    // Each of the program frames went out at its length: 240, 240, 20 data bytes and six more.
    EXPECT_EQ(4u + 6 + 14 + 6 + 246 + 246 + 26 + 6, wire.size());
}

TEST_F(UpgradeRcrfTest, A480ByteImageIsTwoPlainFramesWithoutALastOne) {
    PlaceFile("rc.bin", Image(480));
    const ToolRun run = Run("upgrade_rc", {"rc.bin"}, kRunLimit);

    EXPECT_EQ(0, run.exitStatus) << run.out;
    EXPECT_EQ(BeginLine("rc.bin", 480) + HealthyRun("\r50.0%\r100.0%"), WithoutLocations(run.out));
    EXPECT_EQ(2u, Sim().FramesOfKind(RcrfSimulator::kProgram).size());
    EXPECT_TRUE(Sim().FramesOfKind(RcrfSimulator::kProgramLast).empty());
    EXPECT_EQ(Image(480), Sim().Programmed(module_));
    EXPECT_TRUE(Sim().Running(module_));
}

TEST_F(UpgradeRcrfTest, RfIsChosenByTheToolsOwnNameNotByItsFolder) {
    Attach(2);
    PlaceFile("rf.bin", Image(100));
    // A folder named after the other tool must not send the RF image to the RC module.
    const std::string folder = Bench().WorkDirectory() + "/upgrade_rc";
    ASSERT_EQ(0, mkdir(folder.c_str(), 0755));
    ASSERT_EQ(0, symlink((InstallUnderTest().prefix + "/bin/tarn").c_str(), (folder + "/upgrade_rf").c_str()));
    const ToolRun run = Run(folder + "/upgrade_rf", {"rf.bin"}, kRunLimit);

    EXPECT_EQ(0, run.exitStatus) << run.out;
    EXPECT_EQ(Image(100), Sim().Programmed(module_));
    EXPECT_TRUE(Sim().Running(module_));
    EXPECT_TRUE(Sim().Complaints().empty()) << Sim().Complaints().front();
}

TEST_F(UpgradeRcrfTest, ResendsAFrameWhoseAckWasLostUnderItsOwnSequence) {
    Sim().IgnoreNext(RcrfSimulator::kProgram, 1);
    const Bytes image = Image(300);
    PlaceFile("rc.bin", image);
    const ToolRun run = Run("upgrade_rc", {"rc.bin"}, kRunLimit);

    EXPECT_EQ(0, run.exitStatus) << run.out;
    EXPECT_EQ(BeginLine("rc.bin", 300) +
                  HealthyRun(kSilence + WarnLine("send data but no ack, try it again.\n") + "\r80.0%\r100.0%"),
              WithoutLocations(run.out));
    const std::vector<tarn::bench::ReceivedFrame> program = Sim().FramesOfKind(RcrfSimulator::kProgram);
    ASSERT_EQ(2u, program.size());
    EXPECT_EQ(program[0].bytes, program[1].bytes);
    EXPECT_EQ(image, Sim().Programmed(module_)) << "the repeated frame is stored once";
}

TEST_F(UpgradeRcrfTest, RefusesUsageErrorsAndEmptyImagesBeforeAnythingIsStoppedOrSent) {
    const ToolRun usage = Run("upgrade_rc", {});
    EXPECT_EQ(255, usage.exitStatus);
    EXPECT_EQ("usage: \n| \neg: upgrade_rcrf [file_path] \n", usage.out);

    PlaceFile("empty.bin", {});
    const ToolRun empty = Run("upgrade_rf", {"empty.bin"});
    EXPECT_EQ(255, empty.exitStatus);
    EXPECT_EQ(ErrorLine("get file buf fail.\n"), WithoutLocations(empty.out));

    EXPECT_EQ("", Bench().KillallLog());
    EXPECT_TRUE(Port().BytesFrom(PortSide::Tool).empty());
}

TEST_F(UpgradeRcrfSlow, AFrameLostTwiceFailsTheRunAndTheSecondRunNumbersOn) {
    Sim().IgnoreNext(RcrfSimulator::kProgram, 2);
    const Bytes image = Image(300);
    PlaceFile("rc.bin", image);
    const ToolRun run = Run("upgrade_rc", {"rc.bin"}, kRunLimit);

    EXPECT_EQ(0, run.exitStatus) << run.out;
    const std::string failedRun = kUpToProgram + kSilence + WarnLine("send data but no ack, try it again.\n") +
                                  kSilence + ErrorLine("send data but no ack.\n") + ErrorLine("program flash fail.\n");
    EXPECT_EQ(BeginLine("rc.bin", 300) + failedRun + WarnLine("upgrade rcrf fail and try it again.\n") +
                  HealthyRun("\r80.0%\r100.0%"),
              WithoutLocations(run.out));
    using RS = RcrfSimulator;
    EXPECT_EQ((std::vector<std::pair<int, int>>{{RS::kJumpToBootloader, kJump},
                                                {RS::kRequest, 0},
                                                {RS::kAppInfo, 1},
                                                {RS::kErase, 2},
                                                {RS::kProgram, 3},
                                                {RS::kProgram, 3},
                                                {RS::kJumpToBootloader, kJump},
                                                {RS::kRequest, 4},
                                                {RS::kAppInfo, 5},
                                                {RS::kErase, 6},
                                                {RS::kProgram, 7},
                                                {RS::kProgramLast, 8},
                                                {RS::kJumpToApp, 9}}),
              Frames());
    EXPECT_EQ(image, Sim().Programmed(module_));
    EXPECT_TRUE(Sim().Running(module_));
}

TEST_F(UpgradeRcrfSlow, ASilentModuleFailsBothRuns) {
    Sim().SetSilent(true);
    PlaceFile("rc.bin", Image(100));
    const ToolRun run = Run("upgrade_rc", {"rc.bin"}, kRunLimit);

    EXPECT_EQ(255, run.exitStatus);
    const std::string failedRun = InfoLine("step 1: jump to bootload.\n") + InfoLine("step 2: request upgrade.\n") +
                                  kSilence + ErrorLine("send msg but no ack.\n") + ErrorLine("request upgrade fail.\n");
    EXPECT_EQ(BeginLine("rc.bin", 100) + failedRun + WarnLine("upgrade rcrf fail and try it again.\n") + failedRun +
                  ErrorLine("upgrade rcrf fail.\n"),
              WithoutLocations(run.out));
}

TEST_F(UpgradeRcrfSlow, AModuleThatNeverFallsQuietEndsEachWaitAfterTenSeconds) {
    Sim().SetSilent(true);
    Sim().SetChatter(true);
    PlaceFile("rc.bin", Image(100));
    const ToolRun run = Run("upgrade_rc", {"rc.bin"}, kRunLimit);

    EXPECT_EQ(255, run.exitStatus);
    const std::string failedRun = InfoLine("step 1: jump to bootload.\n") + InfoLine("step 2: request upgrade.\n") +
                                  ErrorLine("invalid ack\n") + ErrorLine("send msg but no ack.\n") +
                                  ErrorLine("request upgrade fail.\n");
    EXPECT_EQ(BeginLine("rc.bin", 100) + failedRun + WarnLine("upgrade rcrf fail and try it again.\n") + failedRun +
                  ErrorLine("upgrade rcrf fail.\n"),
              WithoutLocations(run.out));
    // Two runs of a one-second bootloader start and a ten-second wait.
    EXPECT_GE(run.elapsed, 21999ms);
    EXPECT_LT(run.elapsed, 40s);
}

TEST_F(UpgradeRcrfSlow, A64KiBImageAtTheLineRateTakesLittleMoreThanItsWireTime) {
    Sim().SetLineRate(11520);
    const Bytes image = Image(65536);
    PlaceFile("rc.bin", image);
    const ToolRun run = Run("upgrade_rc", {"rc.bin"}, kRunLimit);

    EXPECT_EQ(0, run.exitStatus) << run.out;
    EXPECT_EQ(image, Sim().Programmed(module_));
    // The one-second bootloader start and every byte both ways at 11520 bytes/s: 7.0 s.
    EXPECT_GE(run.elapsed, 6900ms);
    EXPECT_LT(run.elapsed, 14s);
    // From the jump into the bootloader to the jump to the application, without the sandbox around the tool.
    const std::vector<tarn::bench::ReceivedFrame> frames = Sim().Frames();
    ASSERT_FALSE(frames.empty());
    const auto exchange = std::chrono::duration_cast<std::chrono::milliseconds>(frames.back().at - frames[0].at);
    printf("upgrade_rc, 64 KiB at 11520 bytes/s: %lld ms, %lld ms of them from the first frame to the last\n",
           static_cast<long long>(run.elapsed.count()), static_cast<long long>(exchange.count()));
}

} // namespace
