// xtb_debug, installed, against the bench's gimbal board: wire bytes, console lines and exit statuses.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "bench_fixture.h"
#include "console_lines.h"
#include "tarn_bench_sim_gimbal.h"
#include "test_support.h"

namespace {

using namespace bench_test;
using Bytes = std::vector<uint8_t>;
using tarn::bench::GimbalSimulator;
using tarn::bench::SimPort;
using test_support::MlinkPayloadOf;

size_t CountOf(const std::string &text, const std::string &part) {
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++count;
    }
    return count;
}

class XtbDebugTest : public BenchTest {
protected:
    void SetUp() override {
        BenchTest::SetUp();
        port_ = SimPort::Create();
        ASSERT_TRUE(port_);
        board_ = std::make_unique<GimbalSimulator>(*port_);
        ASSERT_EQ(0, board_->Start());
        Plug(2, "console=ttyAMA0 hwinfo=COMM mem=512M\n");
    }

    void TearDown() override { board_.reset(); }

    void Plug(int serial, const std::string &commandLine) {
        Bench().Settings().serial = {};
        Bench().Settings().serial[static_cast<size_t>(serial)] = port_.get();
        Bench().Settings().kernelCommandLine = commandLine;
    }

    ToolRun Xtb(const std::vector<std::string> &arguments) { return Run("xtb_debug", arguments); }

    std::unique_ptr<SimPort> port_;
    std::unique_ptr<GimbalSimulator> board_;
};

// What every run that opens the link prints before its own lines.
std::string OpeningLines() {
    return InfoLine("create mutex 'mlink' sucess.\n") + InfoLine("create mutex 'imu position' sucess.\n") +
           InfoLine("create mutex 'motor value' sucess.\n") + InfoLine("create mutex 'event' sucess.\n") +
           InfoLine("create mutex 'bms data' sucess.\n") + InfoLine("create thread 'mlink_recv' success.\n");
}

TEST_F(XtbDebugTest, WithoutArgumentsPrintsTheUsageAndLeavesThePortAlone) {
    const ToolRun run = Xtb({});
    EXPECT_EQ(0, run.exitStatus);
    EXPECT_EQ(0, run.out.find("usage: \n| \n-- -l, loop test \n    eg: xtb_debug -l \n-- -s, set command \n"
                              "    eg: xtb_debug -s '1 [0|1]', set follow mode\n"));
    EXPECT_NE(std::string::npos, run.out.find("\n        xtb_debug -s 28, set IMU pose reset\n"));
    EXPECT_NE(std::string::npos, run.out.find("\n        xtb_debug -s '16 [Pitch 0~100] [Roll 0~100] [Yaw 0~100]', "
                                              "set RC limit\n"));
    EXPECT_NE(std::string::npos, run.out.find("\n-- -g, get command \n    eg: xtb_debug -g 1, get follow mode\n"
                                              "        xtb_debug -g 2, get raise mode\n"));
    EXPECT_NE(std::string::npos, run.out.find("\n        xtb_debug -g 64, record log\n-- -p, put command \n"
                                              "    eg: xtb_debug -p 1, put shot done\n"
                                              "        xtb_debug -p '2 [0|1]', put shot state\n"));
    EXPECT_NE(std::string::npos, run.out.find("\n-- -v, version command \n"
                                              "    eg: xtb_debug -v 1, get imu hardware version\n"));
    EXPECT_NE(std::string::npos, run.out.find("\n-- -u, upgrade command \n"
                                              "    eg: xtb_debug -u '1 [file_path]', upgrade gmu\n"));
    EXPECT_EQ(run.out.size() - 19, run.out.rfind("-- -h, this usage \n"));
    EXPECT_EQ(5u + 42 + 1 + 64 + 1 + 4 + 1 + 8 + 1 + 11 + 1, static_cast<size_t>(CountOf(run.out, "\n")));
    EXPECT_TRUE(SentByTheTool(*port_).empty());
}

TEST_F(XtbDebugTest, SetArgumentsBecomeTheirPayloadBytes) {
    const ToolRun run = Xtb({"-s", "4 -10 0 10", "-s", "30 -1 2", "-s", "27 10 300", "-s", "0x1c", "-s", "14 300 -1 7",
                             "-s", "16 1 2 3 4", "-s", "1 0x07"});
    EXPECT_EQ(0, run.exitStatus);
    EXPECT_EQ((Bytes{0xF6, 0x00, 0x0A}), MlinkPayloadOf(board_->FramesOf(0x06).at(0)));
    EXPECT_EQ((Bytes{0xFF, 0xFF, 0x02, 0x00}), MlinkPayloadOf(board_->FramesOf(0x55).at(0)));
    EXPECT_EQ((Bytes{0x0A, 0x2C, 0x01}), MlinkPayloadOf(board_->FramesOf(0x3E).at(0)));
    EXPECT_EQ(1u, board_->FramesOf(0x3D).size());
    EXPECT_EQ((Bytes{0x2C, 0xFF, 0x07}), MlinkPayloadOf(board_->FramesOf(0x17).at(0)));
    EXPECT_EQ((Bytes{0x01, 0x02, 0x03, 0x04}), MlinkPayloadOf(board_->FramesOf(0x19).at(0)));
    EXPECT_EQ((Bytes{0x07}), MlinkPayloadOf(board_->FramesOf(0x03).at(0)));
    EXPECT_EQ(OpeningLines() + InfoLine("set imu move: yaw=-1, pitch=2.\n") + InfoLine("set imu pose reset.\n"),
              WithoutLocations(run.out));
}

TEST_F(XtbDebugTest, ArgumentsTheHandlersCannotHoldAreRefusedBeforeSending) {
    const std::string tooLong = "1 " + std::string(126, '1');
    const ToolRun run =
        Xtb({"-s", "1 1 1",       "-s", "16 1 2 3", "-g", "44",    "-s", tooLong, "-s", "1 1 1 1 1 1 1 1",
             "-g", "1 2 3 4 5 6", "-p", "2",        "-u", "1",     "-g", "99",    "-s", "0",
             "-p", "9",           "-v", "9",        "-u", "12 /x", "-u", "2 "});
    EXPECT_EQ(0, run.exitStatus);
    const std::string refused = ErrorLine("param invalid.\n");
    std::string expected = OpeningLines();
    for (int index = 0; index < 8; ++index) {
        expected += refused;
    }
    expected += WarnLine("invalid cmd index: 99.\n") + WarnLine("invalid cmd index: 0.\n") + refused;
    EXPECT_EQ(expected, WithoutLocations(run.out));
    EXPECT_TRUE(SentByTheTool(*port_).empty());
}

TEST_F(XtbDebugTest, OptionsRunInOrderOverOneLink) {
    board_->SetVersion(0xE1, 0x01020304);
    board_->SetReply(0x83, {0x01});
    const ToolRun run = Xtb({"-v", "2", "-g", "1", "-l"});
    EXPECT_EQ(0, run.exitStatus);
    EXPECT_EQ(OpeningLines() + InfoLine("IMU FW version: 0x01020304\n") + InfoLine("follow mode: 1.\n"),
              WithoutLocations(run.out));
    const auto frames = board_->Frames();
    ASSERT_EQ(3u, frames.size());
    EXPECT_EQ(0xE1, frames[0].kind);
    EXPECT_EQ(0x83, frames[1].kind);
    EXPECT_EQ(0x01, frames[2].kind);
    EXPECT_EQ((Bytes{0xAA, 0x05, 0x01, 0x02, 0x00, 0xB2}), frames[2].bytes);
}

struct GetCase {
    const char *index;
    uint8_t cmd;
    Bytes reply;
    const char *line;
};

// One reply per get command, each printed by its own layout.
const std::vector<GetCase> kGetCases = {
    {"1", 0x83, {2}, "follow mode: 2.\n"},
    {"2", 0x84, {1}, "raise mode: 1.\n"},
    {"3", 0x85, {1}, "invert mode: 1.\n"},
    {"4", 0x87, {1, 2, 3}, "follow dead zone: Pitch=1, Roll=2, Yaw=3.\n"},
    {"5", 0x88, {4, 5, 6}, "follow speed: Pitch=4, Roll=5, Yaw=6.\n"},
    {"6", 0x89, {1}, "motor state: 1.\n"},
    {"7", 0x8A, {1}, "Yaw axis mode: 1.\n"},
    {"8", 0x8B, {1}, "mute mode: 1.\n"},
    {"9", 0x8C, {7, 8, 9}, "imu coef: Pitch=7, Roll=8, Yaw=9.\n"},
    {"10", 0x8D, {1}, "RC follow grade: 1.\n"},
    {"11", 0x95, {10, 11, 12}, "RC dead zone: Pitch=10, Roll=11, Yaw=12.\n"},
    {"12", 0x96, {13, 14, 15}, "RC coef: Pitch=13, Roll=14, Yaw=15.\n"},
    {"13", 0x97, {16, 17, 18}, "RC coef curve: Pitch=16, Roll=17, Yaw=18.\n"},
    {"14", 0x98, {50}, "focus coef: 50.\n"},
    {"15", 0x99, {1, 2, 3, 4}, "RC limit: PitchUp=1, PitchDown=2, Roll=3, Yaw=4.\n"},
    {"16", 0x9A, {19, 20, 21}, "RC slow follow speed: Pitch=19, Roll=20, Yaw=21.\n"},
    {"17", 0x9B, {22, 23, 24}, "RC middle follow speed: Pitch=22, Roll=23, Yaw=24.\n"},
    {"18", 0x9C, {25, 26, 200}, "RC fast follow speed: Pitch=25, Roll=26, Yaw=200.\n"},
    {"19", 0x9E, {1}, "imu param correct: 1.\n"},
    {"20", 0x9F, {55}, "imu param correct progress: 55.\n"},
    {"21", 0xA0, {1}, "imu bias: 1.\n"},
    {"22", 0xA1, {66}, "imu bias progress: 66.\n"},
    {"23", 0xA2, {1}, "Yaw correct: 1.\n"},
    {"24", 0xA8, {1}, "osd mode: 1.\n"},
    {"25", 0xA9, {1}, "motor state: 1.\n"},
    {"26", 0xAA, {0x9C, 0xFF, 0x64, 0x00, 0x18, 0xFC}, "motor value: Pitch=-100, Roll=100, Yaw=-1000.\n"},
    {"27", 0xAB, {1}, "recover state: 1.\n"},
    {"28", 0xAD, {0xFF, 0xFF, 0x00, 0x80, 0xFF, 0x7F}, "imu position: Pitch=-1, Roll=-32768, Yaw=32767.\n"},
    {"29", 0xAE, {0x0A, 0x00, 0xF6, 0xFF, 0xE8, 0x03}, "focus position: pos=10, min=-10, max=1000.\n"},
    {"30",
     0xAF,
     {0x03, 0x00, 0x68, 0x10, 0x34, 0x12, 0x01, 0x02, 0x03, 0x04},
     "bms info: Cnt=3, FullVol=4200, DesignVol=4660, Ver=0x1020304.\n"},
    {"31",
     0xB0,
     {0x10, 0x2E, 0x19, 0x00, 0xF4, 0x01, 0xB8, 0x0B},
     "bms data: Voltage=11792 mv, Temperature=25, Current=500 ma, Remain=0xbb8 mah.\n"},
    {"32", 0xB5, {1, 2, 3, 4, 0x1A, 0xFF}, "map ch: ch1=0x1, ch2=0x2, ch3=0x3, ch4=0x4, ch5=0x1a, ch6=0xff, .\n"},
    {"33", 0xD0, {3}, "cam state: 3.\n"},
    {"34", 0xBC, {1}, "autodyne state: 1.\n"},
    {"35", 0xD2, {4}, "imu work state: 4.\n"},
    {"36", 0xD3, {1, 12, 5}, "pan shot state=1, total step=12, current step=5.\n"},
    {"37", 0xB2, {0, 1, 0}, "imu overheat state: Pitch=0, Roll=1, Yaw=0.\n"},
    {"38", 0xB3, {1, 0, 1}, "imu center state: Pitch=1, Roll=0, Yaw=1.\n"},
    {"39", 0xB4, {2, 2, 2}, "imu payload state: Pitch=2, Roll=2, Yaw=2.\n"},
    {"40", 0xD4, {5}, "autodyne mode: 5.\n"},
    {"41", 0xD5, {6}, "power state: 6.\n"},
    {"42", 0x86, {0x9C, 0x00, 0x64}, "pose angle: pitch=-100, roll=0, yaw=100.\n"},
    {"43", 0xD6, {1, 2, 3, 4}, "RC information: State=1, RfVal=2, VideoVal=3, RcVol=4\n"},
    {"44 3", 0xD7, {0xDC, 0x05}, "RC channel val=0x5dc\n"},
    {"45", 0xB9, {1}, "IMU init state=1.\n"},
    {"46", 0x9D, {3}, "RC follow grade: 3.\n"},
    {"47", 0xD8, {1}, "shot sound state: 1.\n"},
    {"48", 0xD9, {1}, "record sound state: 1.\n"},
    {"49", 0xDA, {9, 42}, "gps info: num=9, val=42.\n"},
    {"50", 0xDB, {77}, "move speed: 77.\n"},
    {"51", 0xDC, {1}, "wifi Recovery state: 1.\n"},
    {"52", 0x8E, {4}, "imu follow grade: 4.\n"},
    {"53", 0xD1, {80}, "speek volume: 80.\n"},
    {"54", 0xDD, {60}, "mic volume: 60.\n"},
    {"55", 0xDE, {1}, "mute state: 1.\n"},
    {"56", 0xDF, {0x2C, 0x01, 2}, "delay shot: sec=300, state=2.\n"},
    {"57", 0xBE, {0x0B, 0xC0}, "event type: 0xb, val:0xc0.\n"},
};

TEST_F(XtbDebugTest, EveryGetLayoutPrintsItsLine) {
    std::vector<std::string> arguments;
    std::string expected = OpeningLines();
    for (const GetCase &get : kGetCases) {
        board_->SetReply(get.cmd, get.reply);
        arguments.push_back("-g");
        arguments.push_back(get.index);
        expected += InfoLine(get.line);
    }
    board_->SetReply(0xE8, {0x49, 0x4D, 0x55, 0x00, 0xFF, 0x10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x7F});
    arguments.insert(arguments.end(), {"-g", "62", "-g", "63"});
    expected +=
        InfoLine("imu sn: ") + "0x49 0x4d 0x55 0x00 0xff 0x10 0x00 0x00 0x00 0x00 0x00 0x00 0x00 0x00 0x00 0x7f \n" +
        InfoLine("gmu sn: ") + "0x47 0x4d 0x55 0x30 0x30 0x30 0x30 0x30 0x30 0x30 0x30 0x30 0x30 0x30 0x30 0x31 \n";
    const ToolRun run = Xtb(arguments);
    EXPECT_EQ(0, run.exitStatus);
    EXPECT_EQ(expected, WithoutLocations(run.out));
    EXPECT_EQ((Bytes{0x03}), MlinkPayloadOf(board_->FramesOf(0xD7).at(0)));
}

TEST_F(XtbDebugTest, SilentBoardGetsTheTimeoutLinesAndZeroValues) {
    board_->SetSilent(true);
    const ToolRun run = Xtb({"-v", "1", "-g", "4"});
    EXPECT_EQ(0, run.exitStatus);
    EXPECT_EQ(OpeningLines() + WarnLine("wait recv [0x05 0xe0 0x00] msg timeout.\n") +
                  ErrorLine("send msg but no ack.\n") + InfoLine("IMU HW version: 0x00000000\n") +
                  WarnLine("wait recv [0x05 0x87 0x01] msg timeout.\n") + ErrorLine("send msg but no ack.\n") +
                  InfoLine("follow dead zone: Pitch=0, Roll=0, Yaw=0.\n"),
              WithoutLocations(run.out));
    EXPECT_GE(run.elapsed, 4200ms);
}

TEST_F(XtbDebugTest, UpgradeFlashesThePartAndPrintsEveryStep) {
    Bytes image(1000);
    for (size_t index = 0; index < image.size(); ++index) {
        image[index] = static_cast<uint8_t>(index * 7 + 3);
    }
    PlaceFile("gmu.bin", image);

    // Words after the path are ignored, as for every entry without a word count.
    const ToolRun run = Xtb({"-u", "1 gmu.bin spare", "-u", "11 gmu.bin"});
    EXPECT_EQ(0, run.exitStatus);
    EXPECT_EQ(
        OpeningLines() + InfoLine("begin to upgrade file=gmu.bin to firmware.\n") + InfoLine("set upgrade flag=1.\n") +
            InfoLine("step 1: prepare.\n") + InfoLine("step 2: erase flash.\n") + InfoLine("step 3: program flash\n") +
            "\r24.0%\r48.0%\r72.0%\r96.0%\r100.0%" + InfoLine("step 4: verify flash.\n") +
            InfoLine("step 5: go to app.\n") + InfoLine("set upgrade flag=0.\n") + InfoLine("upgrade gmu success.\n") +
            ErrorLine("upgrade target of rfrx is not settled, nothing sent.\n") + ErrorLine("upgrade rfrx fail.\n"),
        WithoutLocations(run.out));
    EXPECT_EQ(image, board_->BootLoader().Image(1));
    EXPECT_TRUE(board_->BootLoader().Started(1));
    EXPECT_EQ((Bytes{0x01, 0x25, 0x3E, 0xAF, 0x54}), MlinkPayloadOf(board_->FramesOf(0xFC).at(0)));
    EXPECT_EQ(1u, board_->FramesOf(0xF9).size()) << "the receiver's upgrade sent nothing";
    // Each of the eleven commands' acknowledgements is taken as it is filed: no 100 ms polls (1.1 s).
    EXPECT_LT(run.elapsed, 1100ms);
}

// Lines of the tool's output so far, read while it runs.
std::vector<std::string> LinesSoFar(const tarn::bench::Sandbox &sandbox) {
    std::vector<std::string> lines;
    const std::string text = WithoutLocations(sandbox.Stdout());
    size_t start = 0;
    for (size_t end = text.find('\n'); end != std::string::npos; end = text.find('\n', start)) {
        // A coloured line's reset sequence follows its line feed, so it leaves with the next line.
        if (text.compare(start, 3, "\033[m") == 0) {
            start += 3;
        }
        lines.push_back(text.substr(start, end + 1 - start));
        start = end + 1;
    }
    return lines;
}

// An information line as a watcher sees it when it arrives: without the reset that trails its line feed.
std::string Shown(const std::string &body) {
    const std::string line = InfoLine(body);
    return line.substr(0, line.size() - 3);
}

bool WaitForLines(const tarn::bench::Sandbox &sandbox, size_t count) {
    return test_support::WaitUntil([&] { return LinesSoFar(sandbox).size() >= count; });
}

// How often the process's main thread has given up the processor: once per sleep, or per wait for a lock.
long VoluntarySwitches(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/task/" + std::to_string(pid) + "/status");
    const std::string key = "voluntary_ctxt_switches:";
    for (std::string line; std::getline(status, line);) {
        if (line.rfind(key, 0) == 0) {
            return atol(line.c_str() + key.size());
        }
    }
    return -1;
}

// Reports are filed in the order they come; once the board sees the echo of a 0x70 sent after them, the
// tool has taken them all.
void ReportsTaken(GimbalSimulator &board) {
    const size_t echoes = board.FramesOf(0x70).size();
    board.InjectReport(0x70, {0xEE});
    ASSERT_TRUE(board.WaitForFrames(0x70, echoes + 1, 10s));
}

TEST_F(XtbDebugTest, WatchPrintsEachReportAsItComes) {
    ASSERT_TRUE(Start("xtb_debug", {"-g", "58"}));
    ASSERT_TRUE(WaitForLines(Bench(), 7));
    EXPECT_EQ(Shown("Pitch    Roll     Yaw     \n"), LinesSoFar(Bench())[6]);

    board_->InjectReport(0x71, {0x9C, 0xFF, 0x02, 0x00, 0x03, 0x00});
    ASSERT_TRUE(WaitForLines(Bench(), 8));
    EXPECT_EQ(Shown("-0000100 00000002 00000003\n"), LinesSoFar(Bench())[7]);
    board_->InjectReport(0x72, {1, 0, 1, 0, 1, 0}); // another ring: not shown
    board_->InjectReport(0x71, {0x10, 0x27, 0, 0, 0, 0});
    ASSERT_TRUE(WaitForLines(Bench(), 9));
    EXPECT_EQ(Shown("00010000 00000000 00000000\n"), LinesSoFar(Bench())[8]);
    EXPECT_TRUE(Bench().Running());
    Bench().Stop();
    EXPECT_EQ(9u, LinesSoFar(Bench()).size());
}

TEST_F(XtbDebugTest, SecondToolOnTheLineIsRefusedWhileTheFirstHoldsIt) {
    // The first tool holds /dev/ttyS2 for as long as it watches.
    ASSERT_TRUE(Start("xtb_debug", {"-g", "58"}));
    ASSERT_TRUE(WaitForLines(Bench(), 7));
    std::unique_ptr<tarn::bench::Sandbox> second = tarn::bench::Sandbox::Create(Bench().Settings());
    ASSERT_NE(second, nullptr);
    ASSERT_EQ(0, second->Run("xtb_debug", {"-g", "1"}, 30s));
    EXPECT_EQ(255, second->Status().code);
    EXPECT_EQ(ErrorLine("/dev/ttyS2 is in use.\n") + ErrorLine("uart init fail.\n") + ErrorLine("Uart_Create \n") +
                  ErrorLine("mlink init fail.\n") + ErrorLine("xtb create fail.\n"),
              WithoutLocations(second->Stdout()));
    EXPECT_TRUE(SentByTheTool(*port_).empty()) << "neither the watch nor the refused tool sent anything";

    // A killed holder lets go of the line.
    Bench().Stop();
    ASSERT_EQ(0, second->Run("xtb_debug", {"-g", "1"}, 30s));
    EXPECT_EQ(0, second->Status().code) << second->Stdout();
    EXPECT_EQ(1u, board_->FramesOf(0x83).size());
}

TEST_F(XtbDebugTest, EventAndBatteryWatches) {
    ASSERT_TRUE(Start("xtb_debug", {"-g", "60"}));
    ASSERT_TRUE(WaitForLines(Bench(), 7));
    EXPECT_EQ(Shown("Type    Val    \n"), LinesSoFar(Bench())[6]);
    board_->InjectReport(0x73, {0x00, 0x01});
    board_->InjectReport(0x73, {0x02, 0xAB});
    ASSERT_TRUE(WaitForLines(Bench(), 8));
    EXPECT_EQ(Shown("0x02    0xab\n"), LinesSoFar(Bench())[7]);
    ASSERT_TRUE(board_->WaitForFrames(0x73, 1, 2s)); // the event is echoed back
    Bench().Stop();

    ASSERT_TRUE(Start("xtb_debug", {"-g", "61"}));
    ASSERT_TRUE(WaitForLines(Bench(), 6));
    // The watch shows the latest values only when they differ from the ones it showed last.
    const Bytes battery = {0x10, 0x2E, 0x19, 0x00, 0xF4, 0x01, 0xB8, 0x0B};
    board_->InjectReport(0x74, battery);
    ASSERT_TRUE(WaitForLines(Bench(), 7));
    board_->InjectReport(0x74, battery);
    ReportsTaken(*board_);
    // The watch sleeps between its looks: three more sleeps enclose at least one look at the repeated values,
    // and whatever that look printed comes out before the next report's line.
    const long sleeps = VoluntarySwitches(Bench().Pid());
    ASSERT_TRUE(test_support::WaitUntil([&] { return VoluntarySwitches(Bench().Pid()) >= sleeps + 3; }));
    board_->InjectReport(0x74, {0x0F, 0x2E, 0x19, 0x00, 0xF4, 0x01, 0xB8, 0x0B});
    ASSERT_TRUE(WaitForLines(Bench(), 8));
    const auto lines = LinesSoFar(Bench());
    Bench().Stop();
    ASSERT_EQ(8u, lines.size());
    EXPECT_EQ(Shown("bms data: Voltage=11792 mv, Temperature=25, Current=500 ma, Remain=0xbb8 mah.\n"), lines[6]);
    EXPECT_EQ(Shown("bms data: Voltage=11791 mv, Temperature=25, Current=500 ma, Remain=0xbb8 mah.\n"), lines[7]);
}

// The project read from the kernel command line chooses the board's line.
TEST_F(XtbDebugTest, ProjectsChooseTheirPort) {
    struct Case {
        const char *commandLine;
        int serial;
    };
    const Case cases[] = {
        {"root=/dev/mtdblock3 hwinfo=COMM\n", 2},
        {"quiet hwinfo=RV310:v2:4G mem=256M\n", 2},
        {"hwinfo=RV311 quiet\n", 1},
    };
    for (const Case &one : cases) {
        Plug(one.serial, one.commandLine);
        const size_t before = board_->FramesOf(0x01).size();
        const ToolRun run = Xtb({"-l"});
        EXPECT_EQ(0, run.exitStatus) << one.commandLine;
        EXPECT_EQ(OpeningLines(), WithoutLocations(run.out)) << one.commandLine;
        EXPECT_EQ(before + 1, board_->FramesOf(0x01).size()) << one.commandLine;
    }
}

TEST_F(XtbDebugTest, UnknownOrMissingProjectFailsWithStatus255) {
    Plug(2, "mem=512M console=ttyAMA0\n");
    ToolRun run = Xtb({"-l"});
    EXPECT_EQ(255, run.exitStatus);
    EXPECT_EQ(ErrorLine("unknow project=.\n") + ErrorLine("unknow proj=-1\n") + ErrorLine("mlink init fail.\n") +
                  ErrorLine("xtb create fail.\n"),
              WithoutLocations(run.out));
    Plug(2, "hwinfo=RV999 quiet\n");
    run = Xtb({"-g", "1"});
    EXPECT_EQ(255, run.exitStatus);
    EXPECT_EQ(0u, WithoutLocations(run.out).find(ErrorLine("unknow project=RV999.\n")));
    EXPECT_TRUE(SentByTheTool(*port_).empty());
}

// Timings on a line paced at 115200 baud both ways, against the bytes' wire time. Their upper bounds hold
// on a machine with time to spare, not under a sanitizer beside a dozen other tests: hence the suite of their own.
class XtbLineRateSlow : public XtbDebugTest {};

// Paced at 115200 baud both ways, a command costs its bytes' wire time and a wake-up, not a 100 ms poll.
TEST_F(XtbLineRateSlow, GetFollowModeTakesItsWireTimeNotAPoll) {
    board_->SetLineRate(tarn::bench::kLineRate115200);
    board_->SetReply(0x83, {0x03});
    // The fastest of three runs: a loaded machine may delay any one, but not every one by a poll.
    LineTiming fastest{std::chrono::steady_clock::duration::max(), {}};
    ToolRun fastestRun;
    for (int attempt = 0; attempt < 3; ++attempt) {
        LineTiming timing;
        const ToolRun run = RunTimed(*port_, &timing, "xtb_debug", {"-g", "1"});
        EXPECT_EQ(0, run.exitStatus);
        EXPECT_EQ(OpeningLines() + InfoLine("follow mode: 3.\n"), WithoutLocations(run.out));
        EXPECT_EQ(std::chrono::microseconds(13 * 1000000 / 11520), timing.floor) << "6 bytes out, 7 back";
        EXPECT_GE(timing.span, timing.Least());
        if (timing.span < fastest.span) {
            fastest = timing;
            fastestRun = run;
        }
    }
    EXPECT_EQ((Bytes{0xAA, 0x05, 0x83, 0x00, 0x00, 0x32}), board_->FramesOf(0x83).at(0));
    EXPECT_LT(fastest.span, CommandBound());
    fastest.Print("xtb_debug -g 1 at 115200 baud, the fastest of three runs", fastestRun);
}

// Forty settings read in one run: forty wire times, not forty polls (4 s).
TEST_F(XtbLineRateSlow, FortyGetsTakeTheirWireTimeNotFourSeconds) {
    board_->SetLineRate(tarn::bench::kLineRate115200);
    std::vector<std::string> arguments;
    for (int index = 1; index <= 40; ++index) {
        arguments.insert(arguments.end(), {"-g", std::to_string(index)});
    }
    LineTiming timing;
    const ToolRun run = RunTimed(*port_, &timing, "xtb_debug", arguments);
    EXPECT_EQ(0, run.exitStatus);
    EXPECT_EQ(40u, board_->Frames().size());
    EXPECT_EQ(std::string::npos, run.out.find("timeout")) << run.out;
    EXPECT_GE(timing.span, timing.Least());
    EXPECT_LT(timing.span, 40 * CommandBound());
    timing.Print("xtb_debug, 40 gets at 115200 baud", run);
}

// A 64 KiB part: 274 chunks of at most 240 bytes, 280 commands in all (two flags, prepare, erase, the chunks,
// verify, go to app). Each exchange's reply is taken as it is filed, so the run costs little more than its
// bytes' wire time both ways.
TEST_F(XtbLineRateSlow, SixtyFourKibPartAtLineRate) {
    board_->SetLineRate(tarn::bench::kLineRate115200);
    Bytes image(64 * 1024);
    for (size_t index = 0; index < image.size(); ++index) {
        image[index] = static_cast<uint8_t>(index * 31 + index / 256);
    }
    PlaceFile("imu.bin", image);

    LineTiming timing;
    const ToolRun run = RunTimed(*port_, &timing, "xtb_debug", {"-u", "2 imu.bin"}, 180s);
    EXPECT_EQ(0, run.exitStatus);
    EXPECT_NE(std::string::npos, run.out.find("upgrade imu success.\n"));
    EXPECT_EQ(274u, board_->FramesOf(0xFB).size());
    EXPECT_EQ(image, board_->BootLoader().Image(2));
    EXPECT_GE(timing.span, timing.Least());
    // Generous for a loaded machine (1.03x on a quiet one); waiting out 100 ms polls took 4.7x.
    EXPECT_LT(timing.Ratio(), 3.0);
    RecordProperty("elapsed_ms", static_cast<int>(run.elapsed.count()));
    timing.Print("64 KiB gimbal-part upgrade at 115200 baud", run);
}

} // namespace
