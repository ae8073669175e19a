// The tarn-bench command as an engineer runs it: a scenario, one tool, the tool's output and exit status.
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

#include "bench_fixture.h"
#include "console_lines.h"
#include "tarn_bench_dlog_source.h"

namespace {

using namespace bench_test;

class TarnBenchTest : public BenchTest {
protected:
    // tarn-bench is a host program: it runs natively, and is told which tarn to run.
    tarn::bench::ToolInstall Install() const override { return tarn::bench::MakeToolInstall(TARN_STAGE_DIR); }

    static std::vector<std::string> InstallOptions() {
        const tarn::bench::ToolInstall install = InstallUnderTest();
        std::vector<std::string> options = {"--prefix", install.prefix};
        if (!install.runner.empty()) {
            options.push_back("--qemu");
        }
        return options;
    }
    ToolRun RunBench(std::vector<std::string> arguments, std::chrono::milliseconds limit = 30s) {
        const std::vector<std::string> install = InstallOptions();
        arguments.insert(arguments.begin(), install.begin(), install.end());
        return Run(kTarnBench, arguments, limit);
    }

    const std::string kTarnBench = std::string(TARN_STAGE_DIR) + "/bin/tarn-bench";
};

// True once the process has forked (tarn-bench: its tool is running and its own signal handlers are set).
bool HasStartedAChild(pid_t pid) {
    std::ifstream list("/proc/" + std::to_string(pid) + "/task/" + std::to_string(pid) + "/children");
    pid_t child = 0;
    return static_cast<bool>(list >> child);
}

TEST_F(TarnBenchTest, ChangesTheCardAtGivenTimesAndStopsAnEndlessToolAtItsLimit) {
    const std::string card = Bench().WorkDirectory() + "/card";
    ASSERT_EQ(mkdir(card.c_str(), 0755), 0);
    // The shell reports each state it sees: n for the node, m for the card's files.
    const std::string watch = "last=; while :; do s=; test -e /dev/mmcblk0 && s=n; test -e /tmp/SD0/mark && s=${s}m;"
                              " if [ \"$s\" != \"$last\" ]; then echo \"[$s]\"; last=$s; fi; sleep 0.02; done";
    { std::ofstream(card + "/mark") << "x"; }
    // The watcher is the host's shell, so this run uses tarn-bench's own install, never an emulated one.
    // A whole second between the node and the mount: a loaded machine may hold the watcher for a few hundred
    // milliseconds between two looks.
    const ToolRun run = Run(kTarnBench, {"--card", card, "--remove-card", "0.4", "--insert-card", "0.8,ro",
                                         "--mount-delay", "1000", "--time-limit", "2.5", "--", "/bin/sh", "-c", watch});
    EXPECT_EQ(run.exitStatus, 128 + SIGTERM) << "the limit stops the tool";
    // Pulling unmounts first, so the shell may catch the node alone on the way out.
    EXPECT_TRUE(run.out == "[nm]\n[]\n[n]\n[nm]\n" || run.out == "[nm]\n[n]\n[]\n[n]\n[nm]\n") << run.out;
    EXPECT_GE(run.elapsed, 2500ms);
    EXPECT_LT(run.elapsed, 10000ms);

    for (const std::vector<std::string> &wrong :
         std::vector<std::vector<std::string>>{{"--insert-card", "1", "--", "tarn"},
                                               {"--remove-card", "soon", "--", "tarn"},
                                               {"--card", card + ",rw", "--", "tarn"},
                                               {"--dlog", "0", "--", "tarn"}}) {
        const ToolRun refused = RunBench(wrong);
        EXPECT_EQ(refused.exitStatus, 2) << wrong[0];
        EXPECT_EQ(refused.out, "") << "nothing runs: " << wrong[0];
    }
}

TEST_F(TarnBenchTest, FeedsTheLogDeviceToARecorderUntilItsLimit) {
    if (!InstallUnderTest().runner.empty()) {
        GTEST_SKIP() << "the fake log driver serves native builds only";
    }
    const std::string card = Bench().WorkDirectory() + "/card";
    ASSERT_EQ(mkdir(card.c_str(), 0755), 0);
    ASSERT_EQ(mkdir((card + "/DCIM").c_str(), 0755), 0);
    const ToolRun run = RunBench({"--dlog", "4000", "--card", card, "--time-limit", "1.5", "--", "dlogger"});
    EXPECT_EQ(run.exitStatus, 128 + SIGTERM);
    std::ifstream file(card + "/DCIM/DLOG/dlog_0001");
    const std::string recorded((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    EXPECT_GE(recorded.size(), 1000u);
    EXPECT_EQ(recorded, tarn::bench::DlogSource::Text(recorded.size()));
}

TEST_F(TarnBenchTest, RunsTheToolInTheScenarioAndPassesItsOutputAndStatus) {
    const std::string card = Bench().WorkDirectory() + "/card";
    ASSERT_EQ(mkdir(card.c_str(), 0755), 0);
    ToolRun run = RunBench({"--hwinfo", "RV311", "--card", card, "--", "msleep"});
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_EQ(run.out, "usage: usleep [val]\n");
    EXPECT_EQ(run.err, "");

    run = RunBench({"--", "tarn"});
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_NE(run.out.find("\033[mtarn support tool list: \n"), std::string::npos) << run.out;
}

TEST_F(TarnBenchTest, TerminatingTheBenchStopsTheTool) {
    std::vector<std::string> arguments = InstallOptions();
    arguments.insert(arguments.end(), {"--", "msleep", "20000"});
    ASSERT_TRUE(Start(kTarnBench, arguments));
    ASSERT_TRUE(test_support::WaitUntil([&] { return HasStartedAChild(Bench().Pid()); }));
    ASSERT_EQ(Bench().Signal(SIGTERM), 0);
    const ToolRun run = Finish(15s);
    EXPECT_TRUE(run.status.exited) << "the bench itself ends normally";
    EXPECT_EQ(run.exitStatus, 128 + SIGTERM) << "with the tool's status: killed by SIGTERM";
    EXPECT_LT(run.elapsed, 15s);
}

TEST_F(TarnBenchTest, WrongCommandLinesAndBrokenScenariosAreRefused) {
    ToolRun run = Run(kTarnBench, {"--sim", "no_such_device", "--", "tarn"});
    EXPECT_EQ(run.exitStatus, 2);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err.rfind("tarn-bench: no simulator named 'no_such_device'", 0), 0u) << run.err;

    run = Run(kTarnBench, {"--hwinfo", "COMM"});
    EXPECT_EQ(run.exitStatus, 2);
    EXPECT_NE(run.err.find("no tool given"), std::string::npos) << run.err;

    run = RunBench({"--file", "/var/tmp/no/such/firmware.bin", "--", "tarn"});
    EXPECT_EQ(run.exitStatus, 125);
    EXPECT_EQ(run.out, "") << "the tool does not run in a broken scenario";

    run = Run(kTarnBench, {"--qemu", "--prefix", TARN_STAGE_DIR, "--", "tarn"});
    EXPECT_EQ(run.exitStatus, 125);
    EXPECT_NE(run.err.find("is not an AArch64 build"), std::string::npos) << run.err;
}

TEST_F(TarnBenchTest, HelpListsTheScenarioOptions) {
    const ToolRun run = Run(kTarnBench, {"--help"});
    EXPECT_EQ(run.exitStatus, 0);
    for (const char *option : {"--hwinfo", "--cmdline", "--card", "--file", "--sim", "--prefix", "--qemu", "--flash",
                               "--images", "--bad-block", "--env"}) {
        EXPECT_NE(run.out.find(option), std::string::npos) << option;
    }
}

TEST_F(TarnBenchTest, FlashesTheLensAndAGimbalPartOnTheirSimulators) {
    const std::string image = Bench().WorkDirectory() + "/part.bin";
    std::ofstream(image) << std::string(300, 'x');
    ToolRun run = RunBench({"--sim", "lens", "--file", image, "--", "lens_debug", "-u", "part.bin"});
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_NE(run.out.find("\r100.0%"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("step 5: go to app.\n"), std::string::npos) << run.out;
    EXPECT_EQ(run.out.find("fail."), std::string::npos) << run.out;

    run = RunBench({"--hwinfo", "COMM", "--sim", "gimbal", "--file", image, "--", "xtb_debug", "-u", "9 part.bin"});
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_NE(run.out.find("upgrade focus success.\n"), std::string::npos) << run.out;
}

TEST_F(TarnBenchTest, FlashScenarioKeepsItsImagesBetweenRuns) {
    if (!InstallUnderTest().runner.empty()) {
        GTEST_SKIP() << "the fake MTD driver serves native builds only";
    }
    const std::string images = Bench().WorkDirectory() + "/images";
    const std::string variables = Bench().WorkDirectory() + "/env.txt";
    std::ofstream(variables) << "# the board's\nbootpart=0\n\nbootdelay=1\n";
    ToolRun run =
        RunBench({"--flash", "dm368", "--images", images, "--env", variables, "--", "setuenv", "bootpart", "1"});
    EXPECT_EQ(run.exitStatus, 0) << run.out << run.err;
    // Block 4 of the chip holds the environment's first erase block.
    run = RunBench({"--flash", "dm368", "--images", images, "--bad-block", "4", "--", "setuenv", "bootpart", "0"});
    EXPECT_EQ(WithoutLocations(run.out), WarnLine("bad block at 0x80000.\n") + ErrorLine("erase fail.\n"));
    run = RunBench({"--flash", "dm368", "--images", images, "--", "priuenv"});
    EXPECT_EQ(WithoutLocations(run.out), InfoLine("bootdelay=1\n") + InfoLine("bootpart=1\n"));
    struct stat status {};
    EXPECT_EQ(stat((images + "/mtd4.img").c_str(), &status), 0);

    run = RunBench({"--bad-block", "4", "--", "priuenv"});
    EXPECT_EQ(run.exitStatus, 2);
    run = RunBench({"--flash", "hi3519", "--bad-block", "2048", "--", "priuenv"});
    EXPECT_EQ(run.exitStatus, 125);
    EXPECT_NE(run.err.find("bad block 2048 is past the flash's 2048 blocks"), std::string::npos) << run.err;
}

} // namespace
