// The sandbox itself, seen from inside by a shell: what the tool finds, what reaches the host, and how
// runs end. These run natively whatever build the suite is pointed at.
#include <algorithm>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

#include "bench_fixture.h"

namespace {

using namespace bench_test;

class SandboxTest : public BenchTest {
protected:
    tarn::bench::ToolInstall Install() const override { return tarn::bench::MakeToolInstall(TARN_STAGE_DIR); }
    ToolRun Shell(const std::string &script, std::chrono::milliseconds limit = 20s) {
        return Run("/bin/sh", {"-c", script}, limit);
    }
};

std::string ReadHostFile(const std::string &path) {
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

bool Exists(const std::string &path) {
    struct stat info {};
    return lstat(path.c_str(), &info) == 0;
}

// A host directory under /var/tmp that outlives nothing: removed at the end of the test.
class HostDirectory {
public:
    HostDirectory() {
        char name[] = "/var/tmp/tarn-card.XXXXXX";
        path_ = mkdtemp(name) != nullptr ? name : "";
    }
    ~HostDirectory() {
        if (!path_.empty()) {
            (void)!system(("rm -rf '" + path_ + "'").c_str());
        }
    }
    const std::string &Path() const { return path_; }

private:
    std::string path_;
};

TEST_F(SandboxTest, ToolSeesTheBenchDevicesCommandLineAndWorkingDirectory) {
    Bench().Settings().kernelCommandLine = "quiet hwinfo=RV310:x\n";
    const ToolRun run =
        Shell("cat /proc/cmdline; pwd; ls /dev | tr '\\n' ' '; echo; ls -A /tmp; echo oops >&2; exit 3");
    EXPECT_EQ(run.exitStatus, 3);
    EXPECT_EQ(run.err, "oops\n");
    EXPECT_EQ(run.out, "quiet hwinfo=RV310:x\n" + Bench().WorkDirectory() +
                           "\nfull null ptmx pts random tty ttyS0 ttyS1 ttyS2 ttyS3 ttyS4 urandom zero \n");
}

TEST_F(SandboxTest, DefaultCommandLineHasNoHwinfo) {
    const ToolRun run = Shell("cat /proc/cmdline");
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_EQ(run.out.find("hwinfo="), std::string::npos) << run.out;
    EXPECT_EQ(run.out.back(), '\n') << "/proc/cmdline ends in a line feed";
}

TEST_F(SandboxTest, InsertedCardIsTheHostDirectoryAndPullingItMidRunIsSeen) {
    HostDirectory card;
    ASSERT_FALSE(card.Path().empty());
    { std::ofstream(card.Path() + "/hello") << "hi\n"; }
    Bench().Settings().card.directory = card.Path();
    ASSERT_TRUE(Start("/bin/sh", {"-c", "cat /tmp/SD0/hello; touch /tmp/SD0/written;"
                                        "while test -e /dev/mmcblk0; do sleep 0.05; done; echo pulled"}));
    EXPECT_TRUE(test_support::WaitUntil([&] { return Bench().Stdout() == "hi\n"; }))
        << "output is readable while the tool runs: " << Bench().Stdout();
    ASSERT_EQ(unlink(Bench().PathInside("/dev/mmcblk0").c_str()), 0);
    const ToolRun run = Finish(10s);
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_EQ(run.out, "hi\npulled\n");
    EXPECT_TRUE(Exists(card.Path() + "/written"));
}

// Writes a small file through the tool's view of a path; the errno of the failure, or 0.
int WriteInside(const std::string &path) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) {
        return errno;
    }
    const char text[] = "log bytes";
    const int error = write(fd, text, sizeof text) == static_cast<ssize_t>(sizeof text) ? 0 : errno;
    close(fd);
    return error;
}

TEST_F(SandboxTest, CardsChangeUnderARunningToolAsPulledAndInserted) {
    HostDirectory first;
    HostDirectory second;
    ASSERT_FALSE(first.Path().empty());
    ASSERT_FALSE(second.Path().empty());
    { std::ofstream(first.Path() + "/first") << "1\n"; }
    { std::ofstream(second.Path() + "/second") << "2\n"; }
    Bench().Settings().card.directory = first.Path();
    ASSERT_TRUE(Start("/bin/sh", {"-c", "while :; do sleep 0.05; done"}));
    const auto inside = [&](const std::string &path) { return Bench().PathInside(path); };

    ASSERT_EQ(Bench().RemoveCard(), 0);
    EXPECT_FALSE(Exists(inside("/dev/mmcblk0")));
    EXPECT_FALSE(Exists(inside("/tmp/SD0/first")));
    EXPECT_TRUE(Exists(inside("/tmp/SD0"))) << "the mount point stays, empty";

    // The node comes before the mount, as at boot.
    ASSERT_EQ(Bench().InsertCardNode(), 0);
    EXPECT_TRUE(Exists(inside("/dev/mmcblk0")));
    EXPECT_FALSE(Exists(inside("/tmp/SD0/second")));
    tarn::bench::CardSettings readOnly{second.Path(), true, false};
    ASSERT_EQ(Bench().MountCard(readOnly), 0);
    EXPECT_TRUE(Exists(inside("/tmp/SD0/second")));
    EXPECT_EQ(WriteInside(inside("/tmp/SD0/new")), EROFS);

    ASSERT_EQ(Bench().RemoveCard(), 0);
    ASSERT_EQ(Bench().InsertCard({first.Path(), false, true}), 0);
    EXPECT_EQ(ReadHostFile(inside("/tmp/SD0/first")), "1\n") << "a full card holds a copy of the card's files";
    EXPECT_EQ(WriteInside(inside("/tmp/SD0/new")), ENOSPC);
    EXPECT_FALSE(Exists(first.Path() + "/new"));

    ASSERT_EQ(Bench().RemoveCard(), 0);
    ASSERT_EQ(Bench().InsertCard({first.Path(), false, false}), 0);
    EXPECT_EQ(WriteInside(inside("/tmp/SD0/written")), 0);
    EXPECT_TRUE(Exists(first.Path() + "/written")) << "the same card back is the host directory again";
    Bench().Stop();
    EXPECT_EQ(Bench().RemoveCard(), -1) << "no tool, no card change";
}

TEST_F(SandboxTest, WithoutACardThereIsNoCardDeviceNorMountPoint) {
    const ToolRun run = Shell("test -e /dev/mmcblk0 || echo no-device; test -e /tmp/SD0 || echo no-card");
    EXPECT_EQ(run.out, "no-device\nno-card\n");
}

TEST_F(SandboxTest, KillallOnlyRecordsItsArgumentsWhateverPathCallsIt) {
    const ToolRun run =
        Shell("killall -9 AirLinkRelay; /usr/bin/killall -9 media_srv.out; /bin/killall txlinkstate; echo done");
    EXPECT_EQ(run.out, "done\n");
    EXPECT_EQ(Bench().KillallLog(), "-9 AirLinkRelay\n-9 media_srv.out\ntxlinkstate\n");
}

TEST_F(SandboxTest, SerialLinesAndExtraDevicesReachTheHost) {
    const std::unique_ptr<tarn::bench::SimPort> line = tarn::bench::SimPort::Create();
    ASSERT_NE(line, nullptr);
    ASSERT_EQ(line->Write({'p', 'o', 'n', 'g', '\n'}), 5);
    HostDirectory images;
    const std::string image = images.Path() + "/mtd0.img";
    { std::ofstream(image) << "old"; }
    Bench().Settings().serial[2] = line.get();
    Bench().Settings().devices.push_back({image, "mtd0"});

    const ToolRun run = Shell("printf ping > /dev/ttyS2; head -c 5 < /dev/ttyS2; printf new > /dev/mtd0");
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_EQ(run.out, "pong\n");
    uint8_t received[4] = {};
    EXPECT_EQ(line->ReadExact(received, 4, 10000), 4);
    EXPECT_EQ(std::string(received, received + 4), "ping");
    EXPECT_EQ(ReadHostFile(image), "new");
}

TEST_F(SandboxTest, NothingWrittenToTmpReachesTheHost) {
    const std::string name = "/tmp/tarn-bench-leak-" + std::to_string(getpid());
    const ToolRun run = Shell("echo x > " + name + " && cat " + name);
    EXPECT_EQ(run.out, "x\n");
    EXPECT_FALSE(Exists(name));
}

TEST_F(SandboxTest, EnvironmentPassesThroughExceptPath) {
    setenv("TARN_BENCH_PROBE", "through", 1);
    const ToolRun run = Shell("echo $TARN_BENCH_PROBE; echo $PATH");
    EXPECT_EQ(run.out.substr(0, run.out.find('\n')), "through");
    const std::string path = run.out.substr(run.out.find('\n') + 1);
    EXPECT_EQ(path.rfind(Bench().WorkDirectory().substr(0, Bench().WorkDirectory().size() - 5) + "/bin:", 0), 0u)
        << "the killall recorder comes first: " << path;
}

TEST_F(SandboxTest, StopTermsThenKillsAndTheTimeLimitStopsARun) {
    ASSERT_TRUE(Start("/bin/sh", {"-c", "exec sleep 30"}));
    ASSERT_TRUE(test_support::WaitUntil([&] { return test_support::SleepsInTheKernel(Bench().Pid()); }));
    Bench().Stop();
    ToolRun run = Finish();
    EXPECT_EQ(run.exitStatus, 128 + SIGTERM);

    ASSERT_TRUE(Start("/bin/sh", {"-c", "trap '' TERM; echo ready; while :; do sleep 0.05; done"}));
    ASSERT_TRUE(test_support::WaitUntil([&] { return !Bench().Stdout().empty(); }));
    Bench().Stop(300ms);
    run = Finish();
    EXPECT_EQ(run.exitStatus, 128 + SIGKILL);
    EXPECT_GE(run.elapsed, 300ms);
    EXPECT_LT(run.elapsed, 10s);

    run = Shell("sleep 20", 200ms);
    EXPECT_TRUE(run.status.timedOut);
    EXPECT_LT(run.elapsed, 10s);
}

TEST_F(SandboxTest, SignalReachesTheToolOnly) {
    ASSERT_TRUE(
        Start("/bin/sh", {"-c", "trap 'echo got-usr1; exit 7' USR1; echo ready; while :; do sleep 0.05; done"}));
    ASSERT_TRUE(test_support::WaitUntil([&] { return !Bench().Stdout().empty(); }));
    EXPECT_EQ(Bench().Signal(SIGUSR1), 0);
    const ToolRun run = Finish(10s);
    EXPECT_EQ(run.exitStatus, 7);
    EXPECT_EQ(run.out, "ready\ngot-usr1\n");
}

TEST_F(SandboxTest, MissingToolIsRefusedAndTheHostDirectoryGoesWithTheSandbox) {
    EXPECT_EQ(Bench().Start("no_such_tool", {}), -1);
    EXPECT_FALSE(Bench().Running());

    tarn::bench::SandboxSettings settings;
    settings.install = Install();
    std::string workDirectory;
    {
        const std::unique_ptr<tarn::bench::Sandbox> sandbox = tarn::bench::Sandbox::Create(settings);
        ASSERT_NE(sandbox, nullptr);
        workDirectory = sandbox->WorkDirectory();
        ASSERT_EQ(symlink("/bin/true", (workDirectory + "/link").c_str()), 0);
        ASSERT_TRUE(Exists(workDirectory));
    }
    EXPECT_FALSE(Exists(workDirectory));
    EXPECT_TRUE(Exists("/bin/true")) << "removal must not follow links";
}

} // namespace
