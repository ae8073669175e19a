// lens_debug, installed, against the bench's lens: usage, wire bytes, console lines, refusals and the upgrade.
#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "bench_fixture.h"
#include "console_lines.h"
#include "tarn_bench_sim_lens.h"
#include "test_support.h"

namespace {

using namespace bench_test;
using Bytes = std::vector<uint8_t>;
using tarn::bench::LensSimulator;
using tarn::bench::SimPort;
using test_support::MlinkPayloadOf;

class LensDebugTest : public BenchTest {
protected:
    void SetUp() override {
        BenchTest::SetUp();
        port_ = MakeLine();
        ASSERT_TRUE(port_);
        lens_ = std::make_unique<LensSimulator>(*port_);
        ASSERT_EQ(0, lens_->Start());
        Bench().Settings().serial = {};
        Bench().Settings().serial[3] = port_.get();
    }

    void TearDown() override { lens_.reset(); }

    ToolRun Lens(const std::vector<std::string> &arguments) { return Run("lens_debug", arguments); }

    std::unique_ptr<SimPort> port_;
    std::unique_ptr<LensSimulator> lens_;
};

const std::string kOpening =
    InfoLine("create mutex 'lens' sucess.\n") + InfoLine("create thread 'lens_recv' success.\n");

const std::string kUsage = "usage: \n"
                           "| \n"
                           "-- -l, loop test \n"
                           "    eg: lens_debug -l \n"
                           "-- -s, set command \n"
                           "    eg: lens_debug -s '2 [pos -32768~32768] [speed 0~255]', move focus\n"
                           "        lens_debug -s '3 [pos -32768~32768] [speed 0~255]', move zoom\n"
                           "        lens_debug -s 4, stop focus\n"
                           "        lens_debug -s 5, stop zoom\n"
                           "        lens_debug -s '6 [pos -32768~32768] [speed 0~255]', move iris\n"
                           "        lens_debug -s '7 [pos -32768~32768] [speed 0~255]', move shutter\n"
                           "-- -g, get command \n"
                           "    eg: lens_debug -g 1, get focus pi state\n"
                           "        lens_debug -g 2, get zoom pi state\n"
                           "        lens_debug -g 3, get focus position\n"
                           "        lens_debug -g 4, get zoom position\n"
                           "        lens_debug -g 5, get iris position\n"
                           "        lens_debug -g 6, get shutter position\n"
                           "        lens_debug -g 7, get lens init state\n"
                           "-- -u, upgrade command \n"
                           "    eg: lens_debug -u [file_path], upgrade lens device\n"
                           "-- -h, this usage \n"
                           "eg: lens_debug -h \n";

TEST_F(LensDebugTest, WithoutArgumentsPrintsTheUsageAndLeavesThePortAlone) {
    const ToolRun run = Lens({});
    EXPECT_EQ(0, run.exitStatus);
    EXPECT_EQ(kUsage, run.out);
    EXPECT_TRUE(SentByTheTool(*port_).empty());

    const ToolRun help = Lens({"-h"});
    EXPECT_EQ(0, help.exitStatus);
    EXPECT_EQ(kOpening + kUsage, WithoutLocations(help.out));
}

TEST_F(LensDebugTest, SetsSendTheirPayloadsAndGetsPrintSignedPositions) {
    lens_->SetState(0x88, 3);
    const ToolRun run = Lens({"-s", "2 -100 50", "-g", "3", "-s", "7 0x1234 0xff", "-g", "6", "-s", "4", "-s", "5 9",
                              "-g", "7", "-l", "-s", "8 1a ff", "-s", "8 1b 7 spare"});
    EXPECT_EQ(0, run.exitStatus);
    EXPECT_EQ((Bytes{0xFF, 0x9C, 0x32}), MlinkPayloadOf(lens_->FramesOf(0x02).at(0)));
    EXPECT_EQ((Bytes{0x12, 0x34, 0xFF}), MlinkPayloadOf(lens_->FramesOf(0x07).at(0)));
    EXPECT_EQ(1u, lens_->FramesOf(0x04).size());
    EXPECT_EQ(1u, lens_->FramesOf(0x05).size()) << "entries without values ignore extra words";
    EXPECT_EQ(1u, lens_->FramesOf(0x01).size());
    EXPECT_EQ((Bytes{0x00, 0x1A, 0xFF}), MlinkPayloadOf(lens_->FramesOf(0xF2).at(0)));
    EXPECT_EQ((Bytes{0x00, 0x1B, 0x07}), MlinkPayloadOf(lens_->FramesOf(0xF2).at(1)))
        << "words after the value are ignored";
    EXPECT_EQ(kOpening + InfoLine("focus position: -100.\n") + InfoLine("shutter position: 4660.\n") +
                  InfoLine("lens init state: 3.\n") + InfoLine("ret = 0x0\n") + InfoLine("ret = 0x0\n"),
              WithoutLocations(run.out));
}

TEST_F(LensDebugTest, VersionsAreCutToTheConsoleBufferAndFlashBytesPrintInHex) {
    lens_->SetVersion(0x60, "LENS-SOFTWARE-2.0.1-RELEASE");
    lens_->SetVersion(0x61, "HW-B");
    lens_->SetFlashByte(0x0020, 0x12);
    lens_->SetFlashByte(0x0021, 0xAB);
    const ToolRun run = Lens({"-g", "8", "-g", "9", "-g", "10 20"});
    EXPECT_EQ(0, run.exitStatus);
    std::string flash;
    flash += InfoLine("12 ") + InfoLine("ab ");
    for (int index = 2; index < 16; ++index) {
        flash += InfoLine("ff ");
    }
    EXPECT_EQ(kOpening + InfoLine("lens soft version: LENS-SOFTWARE-2.\n") + InfoLine("lens hard version: HW-B.\n") +
                  flash + InfoLine("\n"),
              WithoutLocations(run.out));
    EXPECT_EQ((Bytes{0x00, 0x20}), MlinkPayloadOf(lens_->FramesOf(0xF1).at(0)));
}

TEST_F(LensDebugTest, ArgumentsTheHandlersCannotHoldAreRefusedBeforeSending) {
    const ToolRun run = Lens({"-s", "2 100", "-s", "8", "-s", "8 1a", "-g", "10", "-s", "1", "-s", "9 1 2", "-g", "11",
                              "-g", "1 2 3 4 5 6", "-s", std::string(128, '2')});
    EXPECT_EQ(0, run.exitStatus);
    const std::string refused = ErrorLine("param invalid.\n");
    EXPECT_EQ(kOpening + refused + refused + refused + refused + WarnLine("invalid cmd index: 1.\n") +
                  WarnLine("invalid cmd index: 9.\n") + WarnLine("invalid cmd index: 11.\n") + refused + refused,
              WithoutLocations(run.out));
    EXPECT_TRUE(SentByTheTool(*port_).empty());
}

TEST_F(LensDebugTest, SilentLensFailsTheCommandButTheConsoleGoesOn) {
    lens_->SetSilent(true);
    const ToolRun run = Lens({"-g", "4", "-s", "4"});
    EXPECT_EQ(0, run.exitStatus);
    EXPECT_EQ(kOpening + WarnLine("wait recv [0x09 0x84 0x00] msg timeout.\n") + ErrorLine("send msg but no ack.\n") +
                  InfoLine("zoom position: 0.\n") + WarnLine("wait recv [0x09 0x04 0x01] msg timeout.\n") +
                  ErrorLine("send msg but no ack.\n"),
              WithoutLocations(run.out));
    EXPECT_GE(run.elapsed, 4000ms);
    EXPECT_LT(run.elapsed, 20s);
}

TEST_F(LensDebugTest, UpgradeFlashesTheLensInEightByteChunks) {
    Bytes image(100);
    for (size_t index = 0; index < image.size(); ++index) {
        image[index] = static_cast<uint8_t>(index * 13);
    }
    PlaceFile("lens.bin", image);
    const ToolRun run = Lens({"-u", "lens.bin", "-u", "missing.bin"});
    EXPECT_EQ(0, run.exitStatus);
    std::string progress;
    for (const char *step :
         {"8.0", "16.0", "24.0", "32.0", "40.0", "48.0", "56.0", "64.0", "72.0", "80.0", "88.0", "96.0", "100.0"}) {
        progress += std::string("\r") + (step[1] == '.' ? " " : "") + step + "%";
    }
    EXPECT_EQ(kOpening + InfoLine("begin to upgrade file=lens.bin to firmware.\n") + InfoLine("step 1: prepare.\n") +
                  InfoLine("step 2: erase flash.\n") + InfoLine("step 3: program flash\n") + progress +
                  InfoLine("step 4: verify flash.\n") + InfoLine("step 5: go to app.\n") +
                  InfoLine("begin to upgrade file=missing.bin to firmware.\n") +
                  SyserrLine("stat", "No such file or directory") + ErrorLine("program fail.\n"),
              WithoutLocations(run.out));
    // The missing file sent nothing: the first run's prepare, erase, 13 chunks, verify and go to app are all.
    EXPECT_EQ(17u, lens_->Frames().size());
    EXPECT_EQ(13u, lens_->FramesOf(0xFB).size());
    EXPECT_EQ(image, lens_->BootLoader().Image(0)) << "the flashed lens stays flashed";
    EXPECT_EQ((Bytes{0xAA, 0x09, 0xF9, 0x00, 0x00, 0xAC}), lens_->FramesOf(0xF9).at(0));
}

// A 64 KiB image at the lens's line rate: 8192 chunks of 8 bytes, each acknowledgement taken as it is filed.
class LensUpgradeSlow : public LensDebugTest {};

TEST_F(LensUpgradeSlow, SixtyFourKibAtLineRate) {
    lens_->SetLineRate(tarn::bench::kLineRate115200);
    Bytes image(64 * 1024);
    for (size_t index = 0; index < image.size(); ++index) {
        image[index] = static_cast<uint8_t>(index * 29 + index / 512);
    }
    PlaceFile("lens.bin", image);
    LineTiming timing;
    const ToolRun run = RunTimed(*port_, &timing, "lens_debug", {"-u", "lens.bin"}, 120s);
    EXPECT_EQ(0, run.exitStatus);
    const size_t timedOut = run.out.find("msg timeout");
    EXPECT_EQ(std::string::npos, timedOut) << run.out.substr(timedOut - std::min<size_t>(timedOut, 300), 600);
    EXPECT_EQ(8192u, lens_->FramesOf(0xFB).size());
    EXPECT_EQ(image, lens_->BootLoader().Image(0));
    EXPECT_GE(timing.span, timing.Least());
    // Generous: each 20-byte exchange is short, so on a loaded machine every late wake-up on either side weighs
    // on it (1.2x on a quiet one); a 100 ms poll would make it 57x.
    EXPECT_LT(timing.Ratio(), 6.0);
    timing.Print("64 KiB lens upgrade at 115200 baud", run);
}

} // namespace
