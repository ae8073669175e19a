// The gimbal board link against the bench's gimbal simulator on a pseudo-terminal: creation by project,
// the user count, acknowledgement slots, reports, the upgrade gate and the catalogue's wire bytes.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <sys/mount.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "tarn_bench_namespace.h"
#include "tarn_bench_sim_gimbal.h"
#include "tarn_bench_sim_port.h"
#include "tarn_xtb.h"
#include "tarn_xtb_link.h"
#include "test_support.h"

namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<uint8_t>;
using tarn::bench::Fault;
using tarn::bench::GimbalSimulator;
using tarn::bench::SimPort;
using test_support::MlinkPayloadOf;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

// Unit-test processes run in their own mount namespace, so the kernel command line can be replaced.
void BindKernelCommandLine(const std::string &text) {
    const std::string path = "/tmp/cmdline";
    std::ofstream(path) << text;
    ASSERT_EQ(0, mount(path.c_str(), "/proc/cmdline", nullptr, MS_BIND, nullptr)) << strerror(errno);
}

// Descriptors of this process open on the given device.
int OpenCount(const std::string &device) {
    int count = 0;
    DIR *pDir = opendir("/proc/self/fd");
    while (const dirent *pEntry = readdir(pDir)) {
        char target[256] = {};
        const std::string link = std::string("/proc/self/fd/") + pEntry->d_name;
        if (readlink(link.c_str(), target, sizeof(target) - 1) > 0 && device == target) {
            ++count;
        }
    }
    closedir(pDir);
    return count;
}

Bytes Frame(uint8_t cmd, uint8_t seq, const Bytes &payload) {
    MlinkMsg msg{};
    Mlink_Pack(&msg, kMlinkDevIdXtb, cmd, seq, static_cast<uint8_t>(payload.size()), payload.data());
    uint8_t wire[kMlinkFrameMax];
    const size_t size = Mlink_Serialise(&msg, wire);
    return Bytes(wire, wire + size);
}

class XtbLinkTest : public testing::Test {
protected:
    void SetUp() override { Attach("hwinfo=COMM", 2); }

    void Attach(const std::string &hwinfo, int serial) {
        port_ = SimPort::Create();
        ASSERT_TRUE(port_);
        ASSERT_EQ(0, tarn::bench::AttachSerialDevice(serial, *port_));
        BindKernelCommandLine("mem=512M " + hwinfo + " console=ttyAMA0\n");
        board_ = std::make_unique<GimbalSimulator>(*port_);
    }

    void TearDown() override {
        while (users_ > 0) {
            XtbOps *pOps = pOps_;
            Xtb_Delete(&pOps);
            --users_;
        }
        board_.reset();
    }

    void Create() {
        ASSERT_EQ(0, Xtb_Create(&pOps_));
        ++users_;
    }

    // The last frame of cmd that the board received.
    Bytes LastFrame(uint8_t cmd) {
        const auto frames = board_->FramesOf(cmd);
        return frames.empty() ? Bytes{} : frames.back();
    }

    std::unique_ptr<SimPort> port_;
    std::unique_ptr<GimbalSimulator> board_;
    XtbOps *pOps_ = nullptr;
    int users_ = 0;
};

TEST_F(XtbLinkTest, SecondCreateSharesAfterASecondAndTheLastDeleteCloses) {
    ASSERT_EQ(0, board_->Start());
    const int harness = OpenCount("/dev/ttyS2");
    Create();
    EXPECT_EQ(harness + 1, OpenCount("/dev/ttyS2"));

    XtbOps *pSecond = nullptr;
    const auto before = std::chrono::steady_clock::now();
    ASSERT_EQ(0, Xtb_Create(&pSecond));
    const auto waited = std::chrono::steady_clock::now() - before;
    EXPECT_GE(waited, 900ms);
    EXPECT_LT(waited, 5s);
    EXPECT_EQ(pOps_, pSecond);
    EXPECT_EQ(harness + 1, OpenCount("/dev/ttyS2"));

    Xtb_Delete(&pSecond);
    EXPECT_EQ(nullptr, pSecond);
    EXPECT_EQ(0, pOps_->LoopTest()) << "the first user still holds the link";
    EXPECT_EQ(harness + 1, OpenCount("/dev/ttyS2"));

    XtbOps *pLast = pOps_;
    Xtb_Delete(&pLast);
    users_ = 0;
    EXPECT_EQ(harness, OpenCount("/dev/ttyS2"));
    EXPECT_EQ(0, Xtb_Link().Users());
}

class XtbProjectTest : public XtbLinkTest {
protected:
    void SetUp() override {}
};

TEST_F(XtbProjectTest, UnknownProjectFailsCreationAndOpensNothing) {
    Attach("hwinfo=RV999", 2);
    const int harness = OpenCount("/dev/ttyS2");
    CaptureStdout();
    EXPECT_EQ(-1, Xtb_Create(&pOps_));
    const std::string output = GetCapturedStdout();
    EXPECT_EQ(nullptr, pOps_);
    EXPECT_EQ(0, Xtb_Link().Users());
    EXPECT_EQ(harness, OpenCount("/dev/ttyS2"));
    const size_t project = output.find("unknow project=RV999.\n");
    const size_t proj = output.find("unknow proj=-1\n");
    const size_t init = output.find("mlink init fail.\n");
    ASSERT_NE(std::string::npos, project);
    ASSERT_NE(std::string::npos, proj);
    ASSERT_NE(std::string::npos, init);
    EXPECT_LT(project, proj);
    EXPECT_LT(proj, init);
}

TEST_F(XtbLinkTest, StrayAckOfAnotherSequenceTimesOutAndStaysInItsSlot) {
    ASSERT_EQ(0, board_->Start());
    Create();
    board_->SetReply(0x83, {0x11});
    board_->Arm(Fault::WrongSequence);
    uint8_t mode = 0x55;
    CaptureStdout();
    const auto before = std::chrono::steady_clock::now();
    EXPECT_EQ(-1, pOps_->GetFollowMode(&mode));
    const auto waited = std::chrono::steady_clock::now() - before;
    const std::string output = GetCapturedStdout();
    EXPECT_EQ(0x55, mode) << "a failed get leaves the caller's variable alone";
    EXPECT_GE(waited, 2100ms) << "21 polls of 100 ms";
    EXPECT_LT(waited, 6s);
    EXPECT_NE(std::string::npos, output.find("wait recv [0x05 0x83 0x00] msg timeout.\n"));
    EXPECT_NE(std::string::npos, output.find("send msg but no ack.\n"));

    // The stray answer (sequence 1) is still in its slot: the next command, which takes sequence 1, finds
    // it before the board's new answer.
    board_->SetReply(0x83, {0x22});
    ASSERT_EQ(0, pOps_->GetFollowMode(&mode));
    EXPECT_EQ(0x11, mode);
    const auto frames = board_->FramesOf(0x83);
    ASSERT_EQ(2u, frames.size());
    EXPECT_EQ(0x01, frames[1][3]);
}

TEST_F(XtbLinkTest, ThirtyThirdUntakenAckOverwritesTheFirstWithItsDump) {
    Create(); // no simulator: the test writes the board's side itself
    Bytes stream;
    for (uint8_t seq = 0; seq < 33; ++seq) {
        const Bytes frame = Frame(0x01, seq, {});
        stream.insert(stream.end(), frame.begin(), frame.end());
    }
    CaptureStdout();
    ASSERT_EQ(static_cast<int>(stream.size()), port_->Write(stream));
    std::this_thread::sleep_for(500ms);
    const std::string output = GetCapturedStdout();
    const size_t overlay = output.find("overlay msg: \033[m0xaa 0x05 0x01 0x00 0x00 0xb0 \n");
    EXPECT_NE(std::string::npos, overlay) << output;
    EXPECT_EQ(std::string::npos, output.find("overlay msg", overlay + 1)) << "only the 33rd overwrites";
}

// Reports arrive in order; once the board sees the echo of a 0x70 sent after them, all are filed.
void SendReportsAndWait(GimbalSimulator &board, uint8_t cmd, const std::vector<Bytes> &payloads) {
    for (const Bytes &payload : payloads) {
        board.InjectReport(cmd, payload);
    }
    const size_t echoes = board.FramesOf(0x70).size();
    board.InjectReport(0x70, {0xEE});
    ASSERT_TRUE(board.WaitForFrames(0x70, echoes + 1, 5s));
}

TEST_F(XtbLinkTest, RingsOverflowWithTheirWarningsAndKeepTheNewest) {
    ASSERT_EQ(0, board_->Start());
    Create();
    std::vector<Bytes> positions;
    for (int index = 1; index <= 257; ++index) {
        const int16_t pitch = static_cast<int16_t>(-index);
        positions.push_back({static_cast<uint8_t>(pitch), static_cast<uint8_t>(pitch >> 8), 2, 0, 3, 0});
    }
    CaptureStdout();
    SendReportsAndWait(*board_, 0x71, positions);
    SendReportsAndWait(*board_, 0x73, {{0x00, 0x09}, {0x01, 0x02}});
    const std::string output = GetCapturedStdout();
    EXPECT_NE(std::string::npos, output.find("overlay imu position: pitch=-1, roll=2, Yaw=3.\n"));
    EXPECT_EQ(std::string::npos, output.find("overlay imu position: pitch=-2"));

    int16_t pitch = 0, roll = 0, yaw = 0;
    int popped = 0;
    ASSERT_EQ(0, pOps_->PopImuPosition(&pitch, &roll, &yaw));
    EXPECT_EQ(-2, pitch);
    EXPECT_EQ(2, roll);
    EXPECT_EQ(3, yaw);
    for (popped = 1; pOps_->PopImuPosition(&pitch, &roll, &yaw) == 0; ++popped) {
    }
    EXPECT_EQ(256, popped);
    EXPECT_EQ(-257, pitch);

    // Type 0 is neither stored nor echoed; the other event is both.
    uint8_t type = 0, value = 0;
    ASSERT_EQ(0, pOps_->PopEvent(&type, &value));
    EXPECT_EQ(0x01, type);
    EXPECT_EQ(0x02, value);
    EXPECT_EQ(-1, pOps_->PopEvent(&type, &value));
    const auto echoes = board_->FramesOf(0x73);
    ASSERT_EQ(1u, echoes.size());
    EXPECT_EQ((Bytes{0x01, 0x02}), MlinkPayloadOf(echoes[0]));
    EXPECT_EQ(-1, pOps_->PopMotorValue(&pitch, &roll, &yaw));
}

TEST_F(XtbLinkTest, AllZeroPositionLooksEmptySoItsOverwriteDoesNotWarn) {
    ASSERT_EQ(0, board_->Start());
    Create();
    std::vector<Bytes> motors(257, Bytes{1, 0, 1, 0, 1, 0});
    motors[0] = Bytes(6, 0);
    CaptureStdout();
    SendReportsAndWait(*board_, 0x72, motors);
    const std::string output = GetCapturedStdout();
    EXPECT_EQ(std::string::npos, output.find("overlay motor value")) << output;
}

TEST_F(XtbLinkTest, EchoesDuringAnUpgradeAreKeptAndSentInOrderAfterIt) {
    ASSERT_EQ(0, board_->Start());
    Create();
    board_->SetReply(0xF8, {});
    Xtb_Link().BeginUpgrade();
    board_->InjectReport(0x70, {0x01});
    board_->InjectReport(0x73, {0x05, 0x06});
    board_->InjectReport(0x70, {0x02});
    MlinkMsg reply;
    // Acknowledgements keep flowing while echoes are held.
    const uint8_t flag = 1;
    ASSERT_EQ(0, Xtb_Link().Transact(0xF8, &flag, 1, 2000, &reply));
    EXPECT_TRUE(board_->FramesOf(0x70).empty());
    EXPECT_TRUE(board_->FramesOf(0x73).empty());

    Xtb_Link().EndUpgrade();
    ASSERT_TRUE(board_->WaitForFrames(0x70, 2, 2s));
    ASSERT_TRUE(board_->WaitForFrames(0x73, 1, 2s));
    std::vector<Bytes> echoed;
    for (const auto &frame : board_->Frames()) {
        if (frame.kind == 0x70 || frame.kind == 0x73) {
            echoed.push_back(MlinkPayloadOf(frame.bytes));
        }
    }
    EXPECT_EQ((std::vector<Bytes>{{0x01}, {0x05, 0x06}, {0x02}}), echoed);
}

std::string ReadFile(const std::string &path) {
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

Bytes LogPayload() {
    Bytes payload;
    for (int index = 0; index < 20; ++index) {
        const float value = static_cast<float>(index) * 0.5f - 1.0f;
        uint32_t bits = 0;
        memcpy(&bits, &value, sizeof(bits));
        for (int shift = 0; shift < 32; shift += 8) {
            payload.push_back(static_cast<uint8_t>(bits >> shift));
        }
    }
    return payload;
}

TEST_F(XtbLinkTest, LogReportsGoToTheNextNumberedFile) {
    ASSERT_EQ(0, system("mkdir -p /tmp/SD0/MISC && touch /tmp/SD0/MISC/xtblog_0001 /tmp/SD0/MISC/xtblog_0007"));
    ASSERT_EQ(0, board_->Start());
    Create();
    CaptureStdout();
    SendReportsAndWait(*board_, 0x75, {LogPayload(), LogPayload()});
    const std::string output = GetCapturedStdout();
    EXPECT_NE(std::string::npos, output.find("open file '/tmp/SD0/MISC/xtblog_0008' and begin to record log.\n"));
    std::string line;
    for (int index = 0; index < 20; ++index) {
        char value[32];
        snprintf(value, sizeof(value), "%8.4lf  ", index * 0.5 - 1.0);
        line += value;
    }
    EXPECT_EQ(line + "\n" + line + "\n", ReadFile("/tmp/SD0/MISC/xtblog_0008"));
    EXPECT_EQ(" -1.0000   -0.5000    0.0000  ", line.substr(0, 30));
}

TEST_F(XtbLinkTest, MissingLogDirectoryReportsTheOpenAndTriesAgainLater) {
    ASSERT_EQ(0, board_->Start());
    Create();
    CaptureStdout();
    SendReportsAndWait(*board_, 0x75, {LogPayload()});
    ASSERT_EQ(0, system("mkdir -p /tmp/SD0/MISC"));
    SendReportsAndWait(*board_, 0x75, {LogPayload()});
    const std::string output = GetCapturedStdout();
    EXPECT_NE(std::string::npos, output.find(") open: No such file or directory \n")) << output;
    EXPECT_NE(std::string::npos, output.find("open file '/tmp/SD0/MISC/xtblog_0001' and begin to record log.\n"));
}

TEST_F(XtbLinkTest, PayloadBytesOfSignedFlagAnd16BitValues) {
    ASSERT_EQ(0, board_->Start());
    Create();
    ASSERT_EQ(0, pOps_->SetRaiseMode(7));
    EXPECT_EQ((Bytes{0x01}), MlinkPayloadOf(LastFrame(0x04)));
    ASSERT_EQ(0, pOps_->SetFollowMode(7));
    EXPECT_EQ((Bytes{0x07}), MlinkPayloadOf(LastFrame(0x03)));
    ASSERT_EQ(0, pOps_->SetPoseAngle(-100, 0, 100));
    EXPECT_EQ((Bytes{0x9C, 0x00, 0x64}), MlinkPayloadOf(LastFrame(0x06)));
    ASSERT_EQ(0, pOps_->SetPanShot(10, 300));
    EXPECT_EQ((Bytes{0x0A, 0x2C, 0x01}), MlinkPayloadOf(LastFrame(0x3E)));
    ASSERT_EQ(0, pOps_->SetImuMove(-1, 2));
    EXPECT_EQ((Bytes{0xFF, 0xFF, 0x02, 0x00}), MlinkPayloadOf(LastFrame(0x55)));
    ASSERT_EQ(0, pOps_->SetDelayShot(5, 0x0102, 3));
    EXPECT_EQ((Bytes{0x05, 0x02, 0x01, 0x03}), MlinkPayloadOf(LastFrame(0x62)));
    uint16_t value = 0;
    board_->SetReply(0xD7, {0x34, 0x12});
    ASSERT_EQ(0, pOps_->GetRcChannel(9, &value));
    EXPECT_EQ((Bytes{0x09}), MlinkPayloadOf(LastFrame(0xD7)));
    EXPECT_EQ(0x1234, value);

    // The board gives back what was set: the signed angles round-trip.
    int8_t pitch = 0, roll = 0, yaw = 0;
    ASSERT_EQ(0, pOps_->GetPoseAngle(&pitch, &roll, &yaw));
    EXPECT_EQ(-100, pitch);
    EXPECT_EQ(100, yaw);
}

TEST_F(XtbLinkTest, ShortReplyReadsZeroForTheMissingFields) {
    ASSERT_EQ(0, board_->Start());
    Create();
    board_->SetReply(0xAF, {0x03, 0x00, 0x68, 0x10, 0x34, 0x12});
    uint16_t count = 0, full = 0, design = 0;
    uint32_t version = 0xFFFFFFFF;
    ASSERT_EQ(0, pOps_->GetBmsInfo(&count, &full, &design, &version));
    EXPECT_EQ(3, count);
    EXPECT_EQ(0x1234, design);
    EXPECT_EQ(0u, version);
}

TEST_F(XtbLinkTest, RefusedConfirmedSetsFail) {
    ASSERT_EQ(0, board_->Start());
    Create();
    EXPECT_EQ(0, pOps_->SetImuPoseReset());
    EXPECT_EQ(0, pOps_->SetAutodyneState(1));
    board_->SetRefuseConfirmed(true);
    CaptureStdout();
    EXPECT_EQ(-1, pOps_->SetImuPoseReset());
    EXPECT_EQ(-1, pOps_->SetAutodyneState(1));
    const std::string output = GetCapturedStdout();
    EXPECT_NE(std::string::npos, output.find("set imu pose reset fail.\n"));
}

TEST_F(XtbLinkTest, EverySlotSendsItsCatalogueCommand) {
    ASSERT_EQ(0, board_->Start());
    Create();
    // Named members reach their catalogue rows: a table filled out of slot order sends other commands.
    uint8_t flag = 0;
    ASSERT_EQ(0, pOps_->GetRecordSound(&flag));
    ASSERT_EQ(0, pOps_->GetMute(&flag));
    ASSERT_EQ(0, pOps_->StopPanShot());
    ASSERT_EQ(0, pOps_->PutSdcardState(1));
    EXPECT_EQ(1u, board_->FramesOf(0xD9).size());
    EXPECT_EQ(1u, board_->FramesOf(0xDE).size());
    EXPECT_EQ(1u, board_->FramesOf(0x3F).size());
    EXPECT_EQ(1u, board_->FramesOf(0x54).size());
}

} // namespace
