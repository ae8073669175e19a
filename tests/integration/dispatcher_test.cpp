// The dispatcher through the installed links, as scripts and engineers call it.
#include <cctype>
#include <csignal>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

#include "bench_fixture.h"
#include "console_lines.h"
#include "tarn_commands.h"

namespace {

using namespace bench_test;

constexpr const char *kToolNames[] = {"tarn",
                                      "dlog",
                                      "dlogger",
                                      "msleep",
                                      "usleep",
                                      "unitest",
                                      "upgrade_fmu",
                                      "upgrade_imu",
                                      "upgrade_of",
                                      "upgrade_bms",
                                      "upgrade_rc",
                                      "upgrade_rf",
                                      "upgrade_dm368_kernel",
                                      "upgrade_dm368_fs",
                                      "uart_debug",
                                      "xtb_debug",
                                      "fmu_debug",
                                      "mcu_dlogger",
                                      "priuenv",
                                      "setuenv",
                                      "binmerge",
                                      "upgrade_hi3519",
                                      "lens_debug",
                                      "upgrade_fmu_super"};

bool Matches(const std::string &text, const std::string &pattern) {
    // '9' stands for a digit, '_' for a blank or a digit, 'A' for a letter; anything else for itself.
    if (text.size() != pattern.size()) {
        return false;
    }
    for (size_t index = 0; index < text.size(); ++index) {
        const char got = text[index];
        const bool fits = pattern[index] == '9'   ? isdigit(got) != 0
                          : pattern[index] == '_' ? got == ' ' || isdigit(got) != 0
                          : pattern[index] == 'A' ? isalpha(got) != 0
                                                  : got == pattern[index];
        if (!fits) {
            return false;
        }
    }
    return true;
}

// "Dec  4 2018"
bool IsBuildDate(const std::string &date) {
    constexpr const char kMonths[] = "JanFebMarAprMayJunJulAugSepOctNovDec";
    const size_t month = std::string(kMonths).find(date.substr(0, 3));
    return Matches(date, "AAA _9 9999") && month != std::string::npos && month % 3 == 0;
}

// "14:15:39"
bool IsBuildTime(const std::string &time) {
    return Matches(time, "99:99:99");
}

std::string InstalledTarn() {
    return InstallUnderTest().prefix + "/bin/tarn";
}

using DispatcherTest = BenchTest;

// Scripts call the tools by name from bin/; a relative link keeps an install tree working after it is moved.
TEST(InstalledTree, EveryOtherToolNameIsARelativeLinkToTarn) {
    const std::string bin = InstallUnderTest().prefix + "/bin/";
    struct stat tarn {};
    ASSERT_EQ(lstat((bin + "tarn").c_str(), &tarn), 0);
    EXPECT_TRUE(S_ISREG(tarn.st_mode));
    EXPECT_NE(tarn.st_mode & S_IXUSR, 0u);

    int links = 0;
    for (const CommandEntry &command : kCommandTable) {
        const std::string name = command.name;
        if (name == "tarn") {
            continue;
        }
        char target[64] = {};
        const ssize_t length = readlink((bin + name).c_str(), target, sizeof target - 1);
        EXPECT_EQ(std::string(target, length > 0 ? static_cast<size_t>(length) : 0), "tarn") << name;
        links += length > 0 ? 1 : 0;
    }
    EXPECT_EQ(links, kCommandCount - 1);
}

TEST_F(DispatcherTest, TarnPrintsTheBannerAndEveryToolInTableOrder) {
    const ToolRun run = Run("tarn");
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_EQ(run.err, "");
    // The stamp is the build's own: check its form, then compare the whole output with it in place.
    const std::string shape = InfoLine("build on <date> at <time>.\n");
    const std::string opening = shape.substr(0, shape.find("<date>"));
    ASSERT_EQ(run.out.rfind(opening, 0), 0u) << run.out;
    const std::string date = run.out.substr(opening.size(), 11);
    const std::string time = run.out.substr(opening.size() + 15, 8);
    EXPECT_TRUE(IsBuildDate(date)) << "[" << date << "]";
    EXPECT_TRUE(IsBuildTime(time)) << "[" << time << "]";
    std::string expected = InfoLine("build on " + date + " at " + time + ".\n");
    expected += "tarn support tool list: \n";
    for (const char *name : kToolNames) {
        expected += std::string(name) + "  ";
    }
    EXPECT_EQ(run.out, expected + "\n");
}

TEST_F(DispatcherTest, NameOutsideTheTableRunsNothing) {
    ASSERT_EQ(symlink(InstalledTarn().c_str(), (Bench().WorkDirectory() + "/foo").c_str()), 0);
    const ToolRun run = Run("./foo", {"-h"});
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "");
}

TEST_F(DispatcherTest, ToolIsFoundByTheLastComponentOfAPath) {
    const std::string directory = Bench().WorkDirectory() + "/x/y";
    ASSERT_EQ(system(("mkdir -p " + directory).c_str()), 0);
    ASSERT_EQ(symlink(InstalledTarn().c_str(), (directory + "/msleep").c_str()), 0);
    const ToolRun run = Run(directory + "/msleep");
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_EQ(run.out, "usage: usleep [val]\n");
}

TEST_F(DispatcherTest, ToolReturningMinusOneExitsWith255) {
    // upgrade_fmu without its file prints its usage and returns -1.
    const ToolRun run = Run("upgrade_fmu");
    EXPECT_EQ(run.out, "usage: \n| \neg: upgrade_fmu [file_path] \n");
    EXPECT_EQ(run.exitStatus, 255);
}

TEST_F(DispatcherTest, MsleepSleepsItsArgumentInMilliseconds) {
    const ToolRun run = Run("msleep", {"250"});
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_EQ(run.out, "");
    EXPECT_GE(run.elapsed, 249ms);
    EXPECT_LT(run.elapsed, 10s);
}

TEST_F(DispatcherTest, UsleepSleepsItsArgumentInMicroseconds) {
    const ToolRun run = Run("usleep", {"300000"});
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_EQ(run.out, "");
    EXPECT_GE(run.elapsed, 299ms);
    EXPECT_LT(run.elapsed, 10s);
}

TEST_F(DispatcherTest, NegativeOrNonNumericDelayReturnsAtOnce) {
    for (const char *name : {"msleep", "usleep"}) {
        for (const char *value : {"-5", "-2147483648", "abc"}) {
            const ToolRun run = Run(name, {value}, 20s);
            EXPECT_EQ(run.exitStatus, 0) << name << " " << value;
            EXPECT_EQ(run.out, "") << name << " " << value;
            EXPECT_LT(run.elapsed, 5s) << name << " " << value;
        }
    }
}

TEST_F(DispatcherTest, SleepToolsWithoutArgumentPrintTheUsleepUsage) {
    for (const char *name : {"msleep", "usleep"}) {
        const ToolRun run = Run(name);
        EXPECT_EQ(run.exitStatus, 0) << name;
        EXPECT_EQ(run.out, "usage: usleep [val]\n") << name;
    }
}

TEST_F(DispatcherTest, CrashPrintsTheStackTraceBlockAndExitsWithOne) {
    ASSERT_TRUE(Start("msleep", {"60000"}));
    // Asleep, the tool has passed its start-up and installed its handlers.
    ASSERT_TRUE(test_support::WaitUntil([&] { return test_support::SleepsInTheKernel(Bench().Pid()); }));
    ASSERT_EQ(Bench().Signal(SIGSEGV), 0);
    const ToolRun run = Finish(30s);
    EXPECT_EQ(run.exitStatus, 1);
    EXPECT_LT(run.elapsed, 30s) << "the crash ended the sleep";

    const std::string opening = "\n========================== stack trace ==========================\n";
    const std::string closing = std::string(65, '=') + "\n";
    ASSERT_EQ(run.out.rfind(opening, 0), 0u) << run.out;
    ASSERT_GE(run.out.size(), opening.size() + closing.size());
    EXPECT_EQ(run.out.substr(run.out.size() - closing.size()), closing) << run.out;
    std::istringstream frames(run.out.substr(opening.size(), run.out.size() - opening.size() - closing.size()));
    int count = 0;
    for (std::string line; std::getline(frames, line); ++count) {
        EXPECT_TRUE(line.size() >= 2 && line.front() == ' ' && line.back() == ' ') << "[" << line << "]";
    }
    EXPECT_GE(count, 1);
    EXPECT_LE(count, 10);
}

} // namespace
