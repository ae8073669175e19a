// The gimbal board link against the bench's gimbal simulator on a pseudo-terminal: creation by project,
// the user count, acknowledgement slots, reports, the upgrade gate, and every command slot's wire bytes.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <functional>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <sys/mount.h>
#include <tuple>
#include <type_traits>
#include <unistd.h>
#include <utility>
#include <vector>

#include "console_capture.h"
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
    EXPECT_GE(waited, 2100ms) << "the time of 21 polls of 100 ms, though the stray answer woke the waiter";
    EXPECT_LT(waited, 6s);
    EXPECT_NE(std::string::npos, output.find("wait recv [0x05 0x83 0x00] msg timeout.\n"));
    EXPECT_NE(std::string::npos, output.find("send msg but no ack.\n"));

    // The stray answer (sequence 1) is still in its slot: the next command, which takes sequence 1, finds
    // it before the board's new answer.
    board_->SetReply(0x83, {0x22});
    ASSERT_EQ(0, pOps_->GetFollowMode(&mode));
    EXPECT_EQ(0x11, mode);
    // Answered from the slot, the command did not wait for the board: it may still be on its way there.
    ASSERT_TRUE(board_->WaitForFrames(0x83, 2, 10s));
    const auto frames = board_->FramesOf(0x83);
    ASSERT_EQ(2u, frames.size());
    EXPECT_EQ(0x01, frames[1][3]);
}

// On a line paced at 115200 baud both ways the waiter wakes when the reply is filed: a command costs its wire
// time (6 bytes out, 7 back) and the wake-up, not a poll of 100 ms.
TEST_F(XtbLinkTest, CommandTakesItsWireTimeNotAPoll) {
    board_->SetLineRate(tarn::bench::kLineRate115200);
    ASSERT_EQ(0, board_->Start());
    Create();
    board_->SetReply(0x83, {0x02});
    // The time of commands in a row, and the fastest of them: a loaded machine may delay any one wake-up, but
    // not every one by a poll.
    auto timeCommands = [&](int count, std::chrono::steady_clock::duration *pFastest) {
        *pFastest = std::chrono::steady_clock::duration::max();
        const auto first = std::chrono::steady_clock::now();
        for (int command = 0; command < count; ++command) {
            uint8_t mode = 0;
            const auto before = std::chrono::steady_clock::now();
            EXPECT_EQ(0, pOps_->GetFollowMode(&mode));
            *pFastest = std::min(*pFastest, std::chrono::steady_clock::now() - before);
            EXPECT_EQ(2, mode);
        }
        return std::chrono::steady_clock::now() - first;
    };
    std::chrono::steady_clock::duration fastest{};
    const auto five = timeCommands(5, &fastest);
    // The line hands its bytes over in 1 ms pieces, so the last reply may land up to 1 ms early.
    EXPECT_GE(five, std::chrono::microseconds(5 * 13 * 1000000 / tarn::bench::kLineRate115200) - 1ms);
    EXPECT_LT(fastest, 30ms);

    // An answer that comes late is taken as it arrives, not at the next 100 ms step (300 ms).
    board_->SetReplyDelay(250ms);
    EXPECT_GE(timeCommands(3, &fastest), 750ms);
    EXPECT_LT(fastest, 290ms);
}

TEST_F(XtbLinkTest, ThirtyThirdUntakenAckOverwritesTheFirstWithItsDump) {
    Create(); // no simulator: the test writes the board's side itself
    Bytes stream;
    for (uint8_t seq = 0; seq < 33; ++seq) {
        const Bytes frame = Frame(0x01, seq, {});
        stream.insert(stream.end(), frame.begin(), frame.end());
    }
    StdoutCapture capture;
    ASSERT_EQ(static_cast<int>(stream.size()), port_->Write(stream));
    // The 33rd frame is the last one filed: once its dump is out, every earlier frame has been filed too.
    const std::string dump = "overlay msg: \033[m0xaa 0x05 0x01 0x00 0x00 0xb0 \n";
    const bool dumped = test_support::WaitUntil([&] { return capture.SoFar().find(dump) != std::string::npos; });
    const std::string output = capture.Finish();
    ASSERT_TRUE(dumped) << output;
    EXPECT_EQ(output.find("overlay msg"), output.rfind("overlay msg")) << "only the 33rd overwrites: " << output;
}

// Reports arrive in order; once the board sees the echo of a 0x70 sent after them, all are filed.
void SendReportsAndWait(GimbalSimulator &board, uint8_t cmd, const std::vector<Bytes> &payloads) {
    for (const Bytes &payload : payloads) {
        board.InjectReport(cmd, payload);
    }
    const size_t echoes = board.FramesOf(0x70).size();
    board.InjectReport(0x70, {0xEE});
    ASSERT_TRUE(board.WaitForFrames(0x70, echoes + 1, 10s));
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
    // Acknowledgements keep flowing while echoes are held. The board sends its reports after answering at the
    // latest, so the link has filed them before the second answer; an echo sent then would reach the board
    // before the third command does.
    const uint8_t flag = 1;
    for (int exchange = 0; exchange < 3; ++exchange) {
        ASSERT_EQ(0, Xtb_Link().Transact(0xF8, &flag, 1, 2000, &reply));
    }
    EXPECT_TRUE(board_->FramesOf(0x70).empty());
    EXPECT_TRUE(board_->FramesOf(0x73).empty());

    Xtb_Link().EndUpgrade();
    ASSERT_TRUE(board_->WaitForFrames(0x70, 2, 10s));
    ASSERT_TRUE(board_->WaitForFrames(0x73, 1, 10s));
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

// One command slot called through the table: its result, and its out values in argument order.
using Values = std::vector<long long>;
struct SlotCall {
    size_t slot;
    std::function<int32_t(const XtbOps &, Values *)> run;
};

template <typename... Args> int32_t Unused(Args...) {
    return 0;
}

// The member's position in the table, found by filling only that member.
template <typename... Args> size_t SlotOf(int32_t (*XtbOps::*member)(Args...)) {
    XtbOps probe{};
    probe.*member = Unused<Args...>;
    std::array<uintptr_t, kXtbOpsSlots> words{};
    memcpy(words.data(), &probe, sizeof(probe));
    return static_cast<size_t>(std::find_if(words.begin(), words.end(), [](uintptr_t word) { return word != 0; }) -
                               words.begin());
}

template <typename Arg, typename Stored> Arg Pass(Stored &stored) {
    if constexpr (std::is_pointer_v<Arg>) {
        return &stored;
    } else {
        return stored;
    }
}

// Value arguments come from in; each pointer argument gets a variable holding 0x5A, read back afterwards.
template <typename... Args, size_t... kIndex>
int32_t Invoke(int32_t (*function)(Args...), const Values &in, Values *pOut, std::index_sequence<kIndex...>) {
    std::tuple<std::remove_pointer_t<Args>...> stored{
        static_cast<std::remove_pointer_t<Args>>(std::is_pointer_v<Args> ? 0x5A : in.at(kIndex))...};
    const int32_t result = function(Pass<Args>(std::get<kIndex>(stored))...);
    pOut->clear();
    ((std::is_pointer_v<Args> ? pOut->push_back(std::get<kIndex>(stored)) : void()), ...);
    return result;
}

template <typename... Args> SlotCall Op(int32_t (*XtbOps::*member)(Args...), Values in = {}) {
    return {SlotOf(member), [member, in](const XtbOps &ops, Values *pOut) {
                return Invoke(ops.*member, in, pOut, std::index_sequence_for<Args...>{});
            }};
}

SlotCall SerialNumber(int32_t (*XtbOps::*member)(uint8_t *)) {
    return {SlotOf(member), [member](const XtbOps &ops, Values *pOut) {
                uint8_t sn[16] = {};
                const int32_t result = (ops.*member)(sn);
                pOut->assign(sn, sn + sizeof(sn));
                return result;
            }};
}

struct SlotCase {
    SlotCall op;
    uint8_t cmd;
    Bytes request;
    Bytes reply; // the board's chosen answer; empty: it answers from what was set
    Values out;
};

const Bytes kImuSn = {'I', 'M', 'U', 0x00, 0xFF, 0x10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x7F};
const Bytes kGmuSn = {'G', 'M', 'U', '1', '2', '3', '4', '5', '6', '7', '8', '9', 'A', 'B', 'C', 'D'};

std::vector<SlotCase> SlotCases() {
    using O = XtbOps;
    // clang-format off
    return {
        {Op(&O::LoopTest), 0x01, {}, {}, {}},
        {Op(&O::SetFollowMode, {7}), 0x03, {0x07}, {}, {}},           {Op(&O::GetFollowMode), 0x83, {}, {}, {7}},
        {Op(&O::SetRaiseMode, {7}), 0x04, {0x01}, {}, {}},            {Op(&O::GetRaiseMode), 0x84, {}, {}, {1}},
        {Op(&O::SetInvertMode, {0x80}), 0x05, {0x01}, {}, {}},        {Op(&O::GetInvertMode), 0x85, {}, {}, {1}},
        {Op(&O::SetPoseAngle, {-100, 0, 100}), 0x06, {0x9C, 0x00, 0x64}, {}, {}},
        {Op(&O::GetPoseAngle), 0x86, {}, {}, {-100, 0, 100}},
        {Op(&O::SetFollowZone, {1, 2, 3}), 0x07, {1, 2, 3}, {}, {}},  {Op(&O::GetFollowZone), 0x87, {}, {}, {1, 2, 3}},
        {Op(&O::SetFollowSpeed, {4, 5, 6}), 0x08, {4, 5, 6}, {}, {}}, {Op(&O::GetFollowSpeed), 0x88, {}, {}, {4, 5, 6}},
        {Op(&O::SetMotorState, {2}), 0x09, {0x01}, {}, {}},           {Op(&O::GetMotorState), 0x89, {}, {}, {1}},
        {Op(&O::SetYawAxisMode, {0}), 0x0A, {0x00}, {}, {}},          {Op(&O::GetYawAxisMode), 0x8A, {}, {}, {0}},
        {Op(&O::SetMuteMode, {0x10}), 0x0B, {0x01}, {}, {}},          {Op(&O::GetMuteMode), 0x8B, {}, {}, {1}},
        {Op(&O::SetCoef, {7, 8, 9}), 0x0C, {7, 8, 9}, {}, {}},        {Op(&O::GetCoef), 0x8C, {}, {}, {7, 8, 9}},
        {Op(&O::SetRcMode, {1}), 0x0D, {0x01}, {}, {}},               {Op(&O::GetRcMode), 0x8D, {}, {}, {1}},
        {Op(&O::SetFollowGrade, {4}), 0x0E, {0x04}, {}, {}},          {Op(&O::GetFollowGrade), 0x8E, {}, {}, {4}},
        {Op(&O::SetRcZone, {10, 11, 12}), 0x15, {10, 11, 12}, {}, {}}, {Op(&O::GetRcZone), 0x95, {}, {}, {10, 11, 12}},
        {Op(&O::SetRcCoef, {13, 14, 15}), 0x16, {13, 14, 15}, {}, {}}, {Op(&O::GetRcCoef), 0x96, {}, {}, {13, 14, 15}},
        {Op(&O::SetRcCoefCurve, {16, 17, 18}), 0x17, {16, 17, 18}, {}, {}},
        {Op(&O::GetRcCoefCurve), 0x97, {}, {}, {16, 17, 18}},
        {Op(&O::SetFocusCoef, {50}), 0x18, {50}, {}, {}},             {Op(&O::GetFocusCoef), 0x98, {}, {}, {50}},
        {Op(&O::SetRcLimit, {19, 20, 21, 22}), 0x19, {19, 20, 21, 22}, {}, {}},
        {Op(&O::GetRcLimit), 0x99, {}, {}, {19, 20, 21, 22}},
        {Op(&O::SetRcSlowSpeed, {23, 24, 25}), 0x1A, {23, 24, 25}, {}, {}},
        {Op(&O::GetRcSlowSpeed), 0x9A, {}, {}, {23, 24, 25}},
        {Op(&O::SetRcMiddleSpeed, {26, 27, 28}), 0x1B, {26, 27, 28}, {}, {}},
        {Op(&O::GetRcMiddleSpeed), 0x9B, {}, {}, {26, 27, 28}},
        {Op(&O::SetRcFastSpeed, {29, 30, 200}), 0x1C, {29, 30, 0xC8}, {}, {}},
        {Op(&O::GetRcFastSpeed), 0x9C, {}, {}, {29, 30, 200}},
        {Op(&O::SetCorrect, {31}), 0x1E, {31}, {}, {}},               {Op(&O::GetCorrect), 0x9E, {}, {}, {31}},
        {Op(&O::SetBias, {32}), 0x20, {32}, {}, {}},                  {Op(&O::GetBias), 0xA0, {}, {}, {32}},
        {Op(&O::SetYawCorrect, {33}), 0x22, {33}, {}, {}},            {Op(&O::GetYawCorrect), 0xA2, {}, {}, {33}},
        {Op(&O::SetOsdMode, {3}), 0x28, {0x01}, {}, {}},              {Op(&O::GetOsdMode), 0xA8, {}, {}, {1}},
        {Op(&O::SetMotorCurve, {0xFF}), 0x29, {0x01}, {}, {}},        {Op(&O::GetMotorCurve), 0xA9, {}, {}, {1}},
        {Op(&O::SetRecover, {1}), 0x2B, {0x01}, {}, {}},              {Op(&O::GetRecover), 0xAB, {}, {}, {1}},
        {Op(&O::SetMapCh, {1, 2, 3, 4, 0x1A, 0xFF}), 0x35, {1, 2, 3, 4, 0x1A, 0xFF}, {}, {}},
        {Op(&O::GetMapCh), 0xB5, {}, {}, {1, 2, 3, 4, 0x1A, 0xFF}},
        {Op(&O::SetAutodyneState, {5}), 0x3C, {0x01}, {}, {}},        {Op(&O::GetAutodyneState), 0xBC, {}, {}, {1}},
        {Op(&O::SetShotSound, {1}), 0x56, {0x01}, {}, {}},            {Op(&O::GetShotSound), 0xD8, {}, {}, {1}},
        {Op(&O::SetRecordSound, {9}), 0x57, {0x01}, {}, {}},          {Op(&O::GetRecordSound), 0xD9, {}, {}, {1}},
        {Op(&O::SetVolume, {80}), 0x58, {80}, {}, {}},                {Op(&O::GetVolume), 0xD1, {}, {}, {80}},
        {Op(&O::SetMicVolume, {60}), 0x60, {60}, {}, {}},             {Op(&O::GetMicVolume), 0xDD, {}, {}, {60}},
        {Op(&O::SetMute, {1}), 0x61, {0x01}, {}, {}},                 {Op(&O::GetMute), 0xDE, {}, {}, {1}},
        {Op(&O::SetDelayShot, {5, 0x0102, 3}), 0x62, {0x05, 0x02, 0x01, 0x03}, {}, {}},
        {Op(&O::GetDelayShot), 0xDF, {}, {0x2C, 0x01, 0x02}, {300, 2}},
        {Op(&O::SetImuPoseReset), 0x3D, {}, {}, {}},
        {Op(&O::SetPanShot, {10, 300}), 0x3E, {0x0A, 0x2C, 0x01}, {}, {}},
        {Op(&O::StopPanShot), 0x3F, {}, {}, {}},
        {Op(&O::StartDelayShot), 0x63, {}, {}, {}},
        {Op(&O::StopDelayShot), 0x64, {}, {}, {}},
        {Op(&O::SetImuMove, {-1, 2}), 0x55, {0xFF, 0xFF, 0x02, 0x00}, {}, {}},
        {Op(&O::SetWifiState, {4}), 0x59, {0x01}, {}, {}},
        {Op(&O::PutEvent, {0x0B, 0xC0}), 0x50, {0x0B, 0xC0}, {}, {}},
        {Op(&O::PutShotDone), 0x51, {}, {}, {}},
        {Op(&O::PutShotState, {1}), 0x52, {0x01}, {}, {}},
        {Op(&O::PutRecordState, {6}), 0x53, {0x01}, {}, {}},
        {Op(&O::PutSdcardState, {0}), 0x54, {0x00}, {}, {}},
        {Op(&O::GetRcFollowGrade), 0x9D, {}, {3}, {3}},
        {Op(&O::GetCorrectProg), 0x9F, {}, {55}, {55}},
        {Op(&O::GetBiasProg), 0xA1, {}, {66}, {66}},
        {Op(&O::GetMotorValue), 0xAA, {}, {0x9C, 0xFF, 0x64, 0x00, 0x18, 0xFC}, {-100, 100, -1000}},
        {Op(&O::GetPosition), 0xAD, {}, {0xFF, 0xFF, 0x00, 0x80, 0xFF, 0x7F}, {-1, -32768, 32767}},
        {Op(&O::GetFocusPosition), 0xAE, {}, {0x0A, 0x00, 0xF6, 0xFF, 0xE8, 0x03}, {10, -10, 1000}},
        {Op(&O::GetBmsInfo), 0xAF, {}, {0x03, 0x00, 0x68, 0x10, 0x34, 0x12, 0x81, 0x02, 0x03, 0x04},
         {3, 4200, 0x1234, 0x81020304}},
        {Op(&O::GetBmsData), 0xB0, {}, {0x10, 0x2E, 0x19, 0x00, 0xF4, 0x01, 0xB8, 0x8B}, {11792, 25, 500, 0x8BB8}},
        {Op(&O::GetOverheatState), 0xB2, {}, {0, 1, 2}, {0, 1, 2}},
        {Op(&O::GetCenterState), 0xB3, {}, {3, 4, 5}, {3, 4, 5}},
        {Op(&O::GetPayloadState), 0xB4, {}, {6, 7, 0xF8}, {6, 7, 0xF8}},
        {Op(&O::GetImuInitState), 0xB9, {}, {1}, {1}},
        {Op(&O::GetEvent), 0xBE, {}, {0x0B, 0xC0}, {0x0B, 0xC0}},
        {Op(&O::GetCamState), 0xD0, {}, {3}, {3}},
        {Op(&O::GetImuWorkState), 0xD2, {}, {4}, {4}},
        {Op(&O::GetPanShotState), 0xD3, {}, {1, 12, 5}, {1, 12, 5}},
        {Op(&O::GetAutodyneMode), 0xD4, {}, {5}, {5}},
        {Op(&O::GetPowerState), 0xD5, {}, {6}, {6}},
        {Op(&O::GetRcInfo), 0xD6, {}, {1, 2, 3, 4}, {1, 2, 3, 4}},
        {Op(&O::GetRcChannel, {9}), 0xD7, {0x09}, {0xDC, 0x85}, {0x85DC}},
        {Op(&O::GetGpsInfo), 0xDA, {}, {9, 42}, {9, 42}},
        {Op(&O::GetMoveSpeed), 0xDB, {}, {77}, {77}},
        {Op(&O::GetWifiRecovery), 0xDC, {}, {1}, {1}},
        {Op(&O::GetImuHwVer), 0xE0, {}, {0x10, 0x20, 0x30, 0xE0}, {0x102030E0}},
        {Op(&O::GetImuFwVer), 0xE1, {}, {0x10, 0x20, 0x30, 0xE1}, {0x102030E1}},
        {Op(&O::GetImuBlVer), 0xE2, {}, {0x10, 0x20, 0x30, 0xE2}, {0x102030E2}},
        {Op(&O::GetImuBoardVer), 0xE3, {}, {0x10, 0x20, 0x30, 0xE3}, {0x102030E3}},
        {Op(&O::GetGmuHwVer), 0xE4, {}, {0x10, 0x20, 0x30, 0xE4}, {0x102030E4}},
        {Op(&O::GetGmuFwVer), 0xE5, {}, {0x10, 0x20, 0x30, 0xE5}, {0x102030E5}},
        {Op(&O::GetGmuBlVer), 0xE6, {}, {0x10, 0x20, 0x30, 0xE6}, {0x102030E6}},
        {Op(&O::GetGmuBoardVer), 0xE7, {}, {0xF0, 0x20, 0x30, 0xE7}, {0xF02030E7}},
        {SerialNumber(&O::GetImuSn), 0xE8, {}, kImuSn, Values(kImuSn.begin(), kImuSn.end())},
        {SerialNumber(&O::GetGmuSn), 0xE9, {}, kGmuSn, Values(kGmuSn.begin(), kGmuSn.end())},
    };
    // clang-format on
}

// Every get and set of the table, called through it against the board's own tables: the request the board
// received, and what the operation handed back (a set's value read back by its get).
TEST_F(XtbLinkTest, EveryCommandSlotSendsItsRequestAndDecodesItsReply) {
    ASSERT_EQ(0, board_->Start());
    Create();
    std::set<size_t> slots;
    for (const SlotCase &row : SlotCases()) {
        SCOPED_TRACE("slot " + std::to_string(row.op.slot));
        slots.insert(row.op.slot);
        if (!row.reply.empty()) {
            board_->SetReply(row.cmd, row.reply);
        }
        const size_t before = board_->Frames().size();
        Values out;
        EXPECT_EQ(0, row.op.run(*pOps_, &out));
        const auto frames = board_->Frames();
        ASSERT_EQ(before + 1, frames.size());
        EXPECT_EQ(row.cmd, frames.back().kind);
        EXPECT_EQ(row.request, MlinkPayloadOf(frames.back().bytes));
        EXPECT_EQ(row.out, out);
    }
    std::set<size_t> commandSlots;
    for (size_t slot = 0; slot < kXtbOpsSlots; ++slot) {
        const bool upgradeOrProgress = slot >= 98 && slot <= 109;
        const bool reportReader = slot >= 124 && slot <= 127;
        if (!upgradeOrProgress && !reportReader) {
            commandSlots.insert(slot);
        }
    }
    EXPECT_EQ(commandSlots, slots);

    // The delay shot waits up to 5 s for its acknowledgement; every other command gives up after 2.1 s.
    board_->SetReplyDelay(3000ms);
    const auto before = std::chrono::steady_clock::now();
    EXPECT_EQ(0, pOps_->SetDelayShot(1, 2, 3));
    EXPECT_GE(std::chrono::steady_clock::now() - before, 2999ms);
}

} // namespace
