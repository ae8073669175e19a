// Project identification from kernel command-line text, and the System object's operations.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <sys/mount.h>

#include "console_capture.h"
#include "tarn_system.h"

namespace {

struct ProjectCase {
    const char *cmdline;
    int project;
};

TEST(Hwinfo, ProjectCodesFromCommandLines) {
    const ProjectCase cases[] = {
        {"console=ttyAMA0 hwinfo=RV310:v2:4G mem=256M", kProjectRv310},
        {"hwinfo=RV311 quiet", kProjectRv311},
        {"root=/dev/mtdblock3 hwinfo=COMM\n", kProjectCommon},    // the line feed that ends /proc/cmdline
        {"hwinfo=board-COMM-7", kProjectCommon},                  // substring match
        {"hwinfo=RV311_COMM", kProjectCommon},                    // COMM is tested first
        {"hwinfo=xRV311RV310", kProjectRv310},                    // then RV310, then RV311
        {"hwinfo=RV311 hwinfo=COMM", kProjectRv311},              // the first hwinfo= counts
        {"hwinfo=0123456789012345678901234RV311", kProjectRv311}, // first 31 characters still hold the code
    };
    for (const ProjectCase &item : cases) {
        StdoutCapture capture;
        const int project = Tarn_ProjOfCmdline(item.cmdline);
        EXPECT_EQ(capture.Finish(), "") << item.cmdline;
        EXPECT_EQ(project, item.project) << item.cmdline;
    }
}

TEST(Hwinfo, UnknownProjectPrintsTheValue) {
    const struct {
        const char *cmdline;
        const char *printedValue;
    } cases[] = {
        {"console=ttyS0 mem=64M\n", ""},
        {"hwinfo= quiet", ""},
        {"hwinfo=RV312:COMM", "RV312"},
        {"hwinfo=rv310", "rv310"},
        // The code sits beyond the 31 characters that are kept.
        {"hwinfo=01234567890123456789012345678901RV310", "0123456789012345678901234567890"},
    };
    for (const auto &item : cases) {
        StdoutCapture capture;
        EXPECT_EQ(Tarn_ProjOfCmdline(item.cmdline), kProjectUnknown) << item.cmdline;
        EXPECT_EQ(WithoutLocations(capture.Finish()),
                  ErrorLine(std::string("unknow project=") + item.printedValue + ".\n"));
    }
}

TEST(SystemObject, GetProjFillsOrLeavesTheBuffer) {
    char project[kHwinfoSize];

    memset(project, 'Z', sizeof project);
    {
        StdoutCapture capture;
        EXPECT_EQ(System_GetProjOfCmdline("x hwinfo=RV311:abc", project), 0);
        EXPECT_EQ(capture.Finish(), "");
    }
    EXPECT_STREQ(project, "RV311");

    memset(project, 'Z', sizeof project);
    {
        StdoutCapture capture;
        EXPECT_EQ(System_GetProjOfCmdline("console=ttyS0\n", project), 0);
        EXPECT_EQ(WithoutLocations(capture.Finish()), WarnLine("unknow project.\n"));
    }
    EXPECT_EQ(std::string(project, sizeof project), std::string(sizeof project, 'Z'));

    {
        StdoutCapture capture;
        EXPECT_EQ(System_GetProjOfCmdline(("hwinfo=" + std::string(32, 'v')).c_str(), project), 0);
        EXPECT_EQ(capture.Finish(), "");
    }
    EXPECT_EQ(std::string(project, sizeof project), std::string(sizeof project, 'Z'));
}

TEST(SystemObject, OperationsAndLifecycle) {
    System *system = nullptr;
    ASSERT_EQ(System_Create(&system), 0);
    ASSERT_NE(system, nullptr);
    EXPECT_EQ(system->pPrivate, nullptr);

    StdoutCapture capture;
    EXPECT_EQ(system->Upgrade(system), -1);
    EXPECT_EQ(system->GetPlat(system), 0);
    EXPECT_EQ(Tarn_Plat(), -1);
    EXPECT_EQ(WithoutLocations(capture.Finish()), ErrorLine("system upgrade is unsupported.\n") +
                                                      WarnLine("unknow platform.\b") + WarnLine("unknow platform.\b"));

    System_Delete(&system);
    EXPECT_EQ(system, nullptr);
}

// The test process has a mount namespace of its own, so the kernel command line can be played by a file.
bool PlayKernelCommandLine(const std::string &text) {
    const char *path = "/tmp/cmdline";
    FILE *file = fopen(path, "w");
    if (file == nullptr) {
        return false;
    }
    fputs(text.c_str(), file);
    fclose(file);
    return mount(path, "/proc/cmdline", nullptr, MS_BIND, nullptr) == 0;
}

TEST(Hwinfo, ReadFromTheKernelCommandLineOnEveryCall) {
    ASSERT_TRUE(PlayKernelCommandLine("mem=256M console=ttyAMA0,115200 hwinfo=RV311:B2 quiet\n"));
    EXPECT_EQ(Tarn_Proj(), kProjectRv311);

    System *system = nullptr;
    ASSERT_EQ(System_Create(&system), 0);
    char project[kHwinfoSize] = {};
    EXPECT_EQ(system->GetProj(system, project), 0);
    EXPECT_STREQ(project, "RV311");

    ASSERT_TRUE(PlayKernelCommandLine("mem=256M console=ttyAMA0,115200\n"));
    StdoutCapture capture;
    EXPECT_EQ(Tarn_Proj(), kProjectUnknown);
    EXPECT_EQ(system->GetProj(system, project), 0);
    EXPECT_EQ(WithoutLocations(capture.Finish()), ErrorLine("unknow project=.\n") + WarnLine("unknow project.\n"));
    EXPECT_STREQ(project, "RV311");
    System_Delete(&system);
}

} // namespace
