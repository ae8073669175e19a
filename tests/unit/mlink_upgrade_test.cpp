// Firmware upgrade over mlink against the bench's gimbal board and lens boot loaders: chunking and progress,
// the image CRC, the chunk retry, refusals, file errors caught before anything is sent, and the gate that holds other
// commands meanwhile.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <fcntl.h>
#include <fstream>
#include <memory>
#include <string>
#include <sys/mount.h>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "console_capture.h"
#include "tarn_bench_namespace.h"
#include "tarn_bench_sim_gimbal.h"
#include "tarn_bench_sim_lens.h"
#include "tarn_bench_sim_port.h"
#include "tarn_lens.h"
#include "tarn_lens_link.h"
#include "tarn_xtb.h"
#include "tarn_xtb_link.h"
#include "test_support.h"

namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<uint8_t>;
using tarn::bench::GimbalSimulator;
using tarn::bench::LensSimulator;
using tarn::bench::SimPort;
using test_support::MlinkPayloadOf;

const std::string kImagePath = "/tmp/image.bin";

Bytes Image(size_t size) {
    Bytes image(size);
    for (size_t index = 0; index < size; ++index) {
        image[index] = static_cast<uint8_t>(index * 7 + 3);
    }
    return image;
}

void WriteImage(const Bytes &image) {
    std::ofstream(kImagePath, std::ios::binary)
        .write(reinterpret_cast<const char *>(image.data()), static_cast<std::streamsize>(image.size()));
}

class GimbalUpgradeTest : public testing::Test {
protected:
    void SetUp() override {
        port_ = SimPort::Create();
        ASSERT_TRUE(port_);
        ASSERT_EQ(0, tarn::bench::AttachSerialDevice(2, *port_));
        std::ofstream("/tmp/cmdline") << "mem=512M hwinfo=COMM console=ttyAMA0\n";
        ASSERT_EQ(0, mount("/tmp/cmdline", "/proc/cmdline", nullptr, MS_BIND, nullptr));
        board_ = std::make_unique<GimbalSimulator>(*port_);
        ASSERT_EQ(0, board_->Start());
        ASSERT_EQ(0, Xtb_Create(&pOps_));
    }

    void TearDown() override {
        Xtb_Delete(&pOps_);
        board_.reset();
    }

    // Runs one wrapper with standard output captured.
    int Upgrade(int32_t (*XtbOps::*wrapper)(const char *), std::string *pOutput) {
        StdoutCapture capture;
        const int result = (pOps_->*wrapper)(kImagePath.c_str());
        *pOutput = WithoutLocations(capture.Finish());
        return result;
    }

    std::unique_ptr<SimPort> port_;
    std::unique_ptr<GimbalSimulator> board_;
    XtbOps *pOps_ = nullptr;
};

std::string StepLines(const std::string &progress) {
    return InfoLine("step 1: prepare.\n") + InfoLine("step 2: erase flash.\n") + InfoLine("step 3: program flash\n") +
           progress + InfoLine("step 4: verify flash.\n") + InfoLine("step 5: go to app.\n");
}

TEST_F(GimbalUpgradeTest, ThousandBytesGoOutInFourChunksOf240AndOneOf40) {
    const Bytes image = Image(1000);
    WriteImage(image);
    std::string output;
    ASSERT_EQ(0, Upgrade(&XtbOps::UpgradeImu, &output));

    EXPECT_EQ(InfoLine("begin to upgrade file=/tmp/image.bin to firmware.\n") + InfoLine("set upgrade flag=1.\n") +
                  StepLines("\r24.0%\r48.0%\r72.0%\r96.0%\r100.0%") + InfoLine("set upgrade flag=0.\n") +
                  InfoLine("upgrade imu success.\n"),
              output);
    const auto chunks = board_->FramesOf(0xFB);
    ASSERT_EQ(5u, chunks.size());
    for (size_t index = 0; index < chunks.size(); ++index) {
        const Bytes payload = MlinkPayloadOf(chunks[index]);
        ASSERT_EQ(index < 4 ? 241u : 41u, payload.size());
        EXPECT_EQ(2, payload[0]) << "the imu's target id leads every chunk";
        EXPECT_EQ(Bytes(image.begin() + static_cast<long>(index * 240),
                        image.begin() + static_cast<long>(index * 240 + payload.size() - 1)),
                  Bytes(payload.begin() + 1, payload.end()));
    }
    // Prepare: device 5, command F9, the sequence after the flag's 0, the target id, the 8-bit sum.
    EXPECT_EQ((Bytes{0xAA, 0x05, 0xF9, 0x01, 0x01, 0x02, 0xAC}), board_->FramesOf(0xF9).at(0));
    EXPECT_EQ((Bytes{0x02, 0x25, 0x3E, 0xAF, 0x54}), MlinkPayloadOf(board_->FramesOf(0xFC).at(0)));
    EXPECT_EQ((Bytes{0x02}), MlinkPayloadOf(board_->FramesOf(0xFD).at(0)));
    EXPECT_EQ(image, board_->BootLoader().Image(2));
    EXPECT_TRUE(board_->BootLoader().Started(2));
    EXPECT_EQ((Bytes{1, 0}), board_->BootLoader().Flags());
    uint8_t progress = 0;
    EXPECT_EQ(0, pOps_->GetUpgradeProgress(&progress));
    EXPECT_EQ(100, progress);
}

TEST_F(GimbalUpgradeTest, ShortImageIsPaddedWithOnesForTheCrcButProgrammedAsItIs) {
    WriteImage({'1', '2', '3', '4', '5'});
    std::string output;
    ASSERT_EQ(0, Upgrade(&XtbOps::UpgradeGmu, &output));
    EXPECT_EQ((Bytes{0x01, '1', '2', '3', '4', '5'}), MlinkPayloadOf(board_->FramesOf(0xFB).at(0)));
    EXPECT_EQ((Bytes{0x01, 0xF3, 0xAC, 0x8C, 0xA1}), MlinkPayloadOf(board_->FramesOf(0xFC).at(0)));
    EXPECT_EQ((Bytes{'1', '2', '3', '4', '5'}), board_->BootLoader().Image(1));
}

TEST_F(GimbalUpgradeTest, LostChunkAcknowledgementIsResentWithTheSameSequence) {
    const Bytes image = Image(500);
    WriteImage(image);
    board_->BootLoader().LoseAcks(0xFB, 1);
    std::string output;
    ASSERT_EQ(0, Upgrade(&XtbOps::UpgradeEscRoll, &output));
    const auto chunks = board_->FramesOf(0xFB);
    ASSERT_EQ(4u, chunks.size());
    EXPECT_EQ(chunks[0], chunks[1]) << "the resent chunk is the same frame, sequence included";
    EXPECT_NE(chunks[1][3], chunks[2][3]);
    EXPECT_NE(std::string::npos, output.find(WarnLine("wait recv [0x05 0xfb 0x03] msg timeout.\n") +
                                             WarnLine("send msg but no ack, try it again.\n") + "\r48.0%"));
    EXPECT_EQ(image, board_->BootLoader().Image(5)) << "the target wrote the repeated chunk once";
    EXPECT_TRUE(board_->BootLoader().Started(5));
}

TEST_F(GimbalUpgradeTest, WrongTargetIdEndsTheUpgradeAndStillLeavesUpgradeMode) {
    WriteImage(Image(600));
    board_->BootLoader().AnswerWrongTarget(0xFB, 1);
    std::string output;
    EXPECT_EQ(-1, Upgrade(&XtbOps::UpgradeGmu, &output));
    EXPECT_EQ(InfoLine("begin to upgrade file=/tmp/image.bin to firmware.\n") + InfoLine("set upgrade flag=1.\n") +
                  InfoLine("step 1: prepare.\n") + InfoLine("step 2: erase flash.\n") +
                  InfoLine("step 3: program flash\n") + ErrorLine("invalid ack, 0x02.\n") +
                  ErrorLine("program fail.\n") + InfoLine("set upgrade flag=0.\n") + ErrorLine("upgrade gmu fail.\n"),
              output);
    EXPECT_EQ(1u, board_->FramesOf(0xFB).size());
    EXPECT_TRUE(board_->FramesOf(0xFC).empty());
    EXPECT_TRUE(board_->FramesOf(0xFD).empty());
    EXPECT_EQ((Bytes{1, 0}), board_->BootLoader().Flags());
    EXPECT_FALSE(Xtb_Link().Upgrading());
}

TEST_F(GimbalUpgradeTest, MissingOrEmptyFileIsRefusedBeforeTheBoardHearsAnything) {
    // A flashed part must stay flashed when a second upgrade names a file that is not there.
    const Bytes flashed = Image(300);
    WriteImage(flashed);
    std::string output;
    ASSERT_EQ(0, Upgrade(&XtbOps::UpgradeBms, &output));
    const size_t framesBefore = board_->Frames().size();

    unlink(kImagePath.c_str());
    EXPECT_EQ(-1, Upgrade(&XtbOps::UpgradeBms, &output));
    EXPECT_EQ(InfoLine("begin to upgrade file=/tmp/image.bin to firmware.\n") +
                  SyserrLine("stat", "No such file or directory") + ErrorLine("program fail.\n") +
                  ErrorLine("upgrade bms fail.\n"),
              output);
    WriteImage({});
    EXPECT_EQ(-1, Upgrade(&XtbOps::UpgradeBms, &output));
    EXPECT_EQ(InfoLine("begin to upgrade file=/tmp/image.bin to firmware.\n") + ErrorLine("file is empty.\n") +
                  ErrorLine("program fail.\n") + ErrorLine("upgrade bms fail.\n"),
              output);

    // Anything sent before this answered command has reached the board by now.
    ASSERT_EQ(0, pOps_->LoopTest());
    EXPECT_EQ(framesBefore + 1, board_->Frames().size()) << "not even the upgrade flag went out";
    EXPECT_EQ(flashed, board_->BootLoader().Image(6));
    EXPECT_TRUE(board_->BootLoader().Started(6));
    EXPECT_FALSE(Xtb_Link().Upgrading());
}

TEST_F(GimbalUpgradeTest, SilentTargetFailsTheFlagStepAndSendsNothingElse) {
    WriteImage(Image(10));
    board_->SetSilent(true);
    std::string output;
    const auto before = std::chrono::steady_clock::now();
    EXPECT_EQ(-1, Upgrade(&XtbOps::UpgradeXtb, &output));
    EXPECT_GE(std::chrono::steady_clock::now() - before, 4s) << "two flag commands of 2 s each";
    EXPECT_NE(std::string::npos, output.find(ErrorLine("send msg but no ack.\n") + ErrorLine("set upgrade fail.\n") +
                                             InfoLine("set upgrade flag=0.\n")));
    // Unanswered, the second flag command may still be on its way to the board; nothing was sent after it.
    ASSERT_TRUE(board_->WaitForFrames(0xF8, 2, 10s));
    EXPECT_EQ(2u, board_->FramesOf(0xF8).size());
    EXPECT_TRUE(board_->FramesOf(0xF9).empty());
}

TEST_F(GimbalUpgradeTest, CommandFromAnotherThreadWaitsUntilTheUpgradeHasEnded) {
    WriteImage(Image(2400));
    std::atomic<int> upgraded{1};
    std::thread upgrader([&] { upgraded = pOps_->UpgradeFocus(kImagePath.c_str()); });
    ASSERT_TRUE(board_->WaitForFrames(0xFB, 1, 5s));
    EXPECT_EQ(0, pOps_->SetFollowMode(1));
    upgrader.join();
    EXPECT_EQ(0, upgraded.load());
    const auto frames = board_->Frames();
    ASSERT_EQ(0x03, frames.back().kind) << "the setting went out last";
    EXPECT_EQ(0xF8, frames[frames.size() - 2].kind) << "right after the leave-upgrade flag";
    // The gate opens when the upgrade ends, not at the held command's next one-second look.
    EXPECT_LT(frames.back().at - frames[frames.size() - 2].at, 500ms);
}

class LensUpgradeTest : public testing::Test {
protected:
    void SetUp() override {
        port_ = SimPort::Create();
        ASSERT_TRUE(port_);
        ASSERT_EQ(0, tarn::bench::AttachSerialDevice(3, *port_));
        lens_ = std::make_unique<LensSimulator>(*port_);
        ASSERT_EQ(0, lens_->Start());
        ASSERT_EQ(0, Lens_Create(&pOps_));
    }

    void TearDown() override {
        Lens_Delete(&pOps_);
        lens_.reset();
    }

    std::unique_ptr<SimPort> port_;
    std::unique_ptr<LensSimulator> lens_;
    LensOps *pOps_ = nullptr;
};

TEST_F(LensUpgradeTest, PrepareWithSequenceZeroEightByteChunksAndTheFiveByteVerify) {
    ASSERT_EQ(0, pOps_->LoopTest()); // the counter is at 1 now; prepare does not use it
    WriteImage({'1', '2', '3', '4', '5', '6', '7', '8', '9', 'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h', 'i', 'j', 'k'});
    StdoutCapture capture;
    ASSERT_EQ(0, pOps_->Upgrade(kImagePath.c_str()));
    const std::string output = WithoutLocations(capture.Finish());
    EXPECT_EQ(InfoLine("begin to upgrade file=/tmp/image.bin to firmware.\n") + StepLines("\r40.0%\r80.0%\r100.0%"),
              output);
    EXPECT_EQ((Bytes{0xAA, 0x09, 0xF9, 0x00, 0x00, 0xAC}), lens_->FramesOf(0xF9).at(0));
    EXPECT_EQ((Bytes{0xAA, 0x09, 0xFA, 0x01, 0x00, 0xAE}), lens_->FramesOf(0xFA).at(0));
    const auto chunks = lens_->FramesOf(0xFB);
    ASSERT_EQ(3u, chunks.size());
    EXPECT_EQ((Bytes{'1', '2', '3', '4', '5', '6', '7', '8'}), MlinkPayloadOf(chunks[0]));
    EXPECT_EQ((Bytes{'h', 'i', 'j', 'k'}), MlinkPayloadOf(chunks[2]));
    const Bytes verify = MlinkPayloadOf(lens_->FramesOf(0xFC).at(0));
    ASSERT_EQ(5u, verify.size());
    EXPECT_EQ(0x00, verify[4]);
    EXPECT_TRUE(MlinkPayloadOf(lens_->FramesOf(0xFD).at(0)).empty());
    EXPECT_TRUE(lens_->BootLoader().Started(0));
    EXPECT_TRUE(lens_->FramesOf(0xF8).empty()) << "the lens has no flag command";
    EXPECT_FALSE(Lens_Link().Upgrading());
}

TEST_F(LensUpgradeTest, VerifyCarriesTheWordCrcMostSignificantByteFirst) {
    WriteImage({'1', '2', '3', '4', '5', '6', '7', '8', '9'});
    StdoutCapture capture;
    ASSERT_EQ(0, pOps_->Upgrade(kImagePath.c_str()));
    capture.Finish();
    EXPECT_EQ((Bytes{0xD0, 0x9E, 0x59, 0xB9, 0x00}), MlinkPayloadOf(lens_->FramesOf(0xFC).at(0)));
}

TEST_F(LensUpgradeTest, OnlyUpgradeCommandsPassTheLensGate) {
    Lens_Link().BeginUpgrade();
    std::atomic<int> result{1};
    std::atomic<pid_t> commanderId{0};
    std::thread commander([&] {
        commanderId = static_cast<pid_t>(syscall(SYS_gettid));
        result = pOps_->StopZoom();
    });
    // The command waits once it is held at the gate (or, let through, waits for its answer). A loop test
    // written onto the line after that reaches the lens behind anything the command sent.
    ASSERT_TRUE(test_support::WaitUntil(
        [&] { return commanderId.load() != 0 && test_support::WaitsOnAFutex(commanderId.load()); }));
    MlinkMsg marker{};
    Mlink_Pack(&marker, kMlinkDevIdLens, 0x01, 0x7F, 0, nullptr);
    uint8_t wire[kMlinkFrameMax];
    const size_t size = Mlink_Serialise(&marker, wire);
    const int line = open(port_->SlavePath().c_str(), O_WRONLY | O_NOCTTY);
    ASSERT_GE(line, 0);
    EXPECT_EQ(static_cast<ssize_t>(size), write(line, wire, size));
    close(line);
    ASSERT_TRUE(lens_->WaitForFrames(0x01, 1, 10s));
    EXPECT_TRUE(lens_->FramesOf(0x05).empty());
    const auto ended = std::chrono::steady_clock::now();
    Lens_Link().EndUpgrade();
    commander.join();
    EXPECT_EQ(0, result.load());
    EXPECT_EQ(1u, lens_->FramesOf(0x05).size());
    EXPECT_LT(std::chrono::steady_clock::now() - ended, 500ms) << "the held command went out as the upgrade ended";
}

} // namespace
