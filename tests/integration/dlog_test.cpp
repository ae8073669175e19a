// dlog and dlogger, installed, against the bench's log device (the fake driver with a kernel-log source) and
// SD cards pulled and put back while dlogger runs.
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

#include "bench_fixture.h"
#include "console_lines.h"
#include "tarn_bench_dlog_source.h"
#include "test_support.h"

namespace {

using namespace bench_test;
using test_support::WaitUntil;

constexpr const char kLogDirectory[] = "/DCIM/DLOG";

std::string ReadFile(const std::string &path) {
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

bool Exists(const std::string &path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0;
}

// The journal without the descriptor number of the open line, which the loader's own files decide.
std::string Requests(std::string journal) {
    const std::string open = "open dlog O_RDWR = ";
    const size_t at = journal.find(open);
    if (at != std::string::npos) {
        const size_t digits = at + open.size();
        journal.replace(digits, journal.find_first_not_of("0123456789", digits) - digits, "fd");
    }
    return journal;
}

class DlogTest : public BenchTest {
protected:
    void SetUp() override {
        BenchTest::SetUp();
        const char *runner = getenv("TARN_TEST_RUNNER");
        if (runner != nullptr && *runner != '\0') {
            GTEST_SKIP() << "the fake log driver cannot be preloaded into a static build under " << runner;
        }
        Bench().Settings().dlog.present = true;
    }

    // A card directory on the host with the given folders below it, removed with the test's sandbox.
    std::string MakeCard(const std::string &name, const std::vector<std::string> &folders) {
        const std::string card = Bench().WorkDirectory() + "/" + name;
        EXPECT_EQ(mkdir(card.c_str(), 0755), 0);
        std::string path = card;
        for (const std::string &folder : folders) {
            path += "/" + folder;
            EXPECT_EQ(mkdir(path.c_str(), 0755), 0);
        }
        return card;
    }

    // CPU seconds the running tool has used so far.
    double CpuSeconds() {
        std::ifstream stat("/proc/" + std::to_string(Bench().Pid()) + "/stat");
        std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
        std::istringstream fields(text.substr(text.rfind(')') + 2));
        std::string field;
        unsigned long long user = 0;
        unsigned long long system = 0;
        for (int index = 3; index <= 15 && fields >> field; ++index) {
            if (index == 14) {
                user = std::stoull(field);
            } else if (index == 15) {
                system = std::stoull(field);
            }
        }
        return static_cast<double>(user + system) / static_cast<double>(sysconf(_SC_CLK_TCK));
    }

    bool OutputHas(const std::string &text) {
        return WaitUntil([&] { return Count(text) > 0; });
    }

    // How often the output (location triples as "(@)") holds text.
    size_t Count(const std::string &text) {
        const std::string out = WithoutLocations(Bench().Stdout());
        size_t count = 0;
        for (size_t at = out.find(text); at != std::string::npos; at = out.find(text, at + 1)) {
            ++count;
        }
        return count;
    }
};

TEST_F(DlogTest, SendsOneRequestPerOptionInOrderWithItsArgument) {
    const ToolRun run = Run("dlog", {"-p", "12", "-n", "a b", "-a", "-s", "x",  "-l", "1",  "-o",     "y",  "-c",
                                     "z",  "-u", "-m", "key", "-e", "-3", "-t", "1",  "-r", "gimbal", "-d", "text"});
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(Requests(Bench().TakeFlashJournal()), "open dlog O_RDWR = fd\n"
                                                    "ioctl dlog 0x40044401 12 = 0\n"
                                                    "ioctl dlog 0x40044403 \"a b\" = 0\n"
                                                    "ioctl dlog 0x40044400 none = 0\n"
                                                    "ioctl dlog 0x40044402 1 = 0\n"
                                                    "ioctl dlog 0x40044404 \"key\" = 0\n"
                                                    "ioctl dlog 0x40044407 -3 = 0\n"
                                                    "ioctl dlog 0x40044409 1 = 0\n"
                                                    "ioctl dlog 0x40044410 \"gimbal\" = 0\n"
                                                    "ioctl dlog 0x40044411 \"text\" = 0\n"
                                                    "close dlog\n");
}

TEST_F(DlogTest, AFailedRequestIsReportedAndTheNextStillGoes) {
    Bench().Settings().dlog.faults = {"fail 5 EPERM", "fail 1 EINVAL"};
    const ToolRun run = Run("dlog", {"-i", "-p", "7", "-a"});
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_EQ(WithoutLocations(run.out),
              SyserrLine("ioctl", "Operation not permitted") + SyserrLine("ioctl", "Invalid argument"));
    EXPECT_EQ(Requests(Bench().TakeFlashJournal()), "open dlog O_RDWR = fd\n"
                                                    "ioctl dlog 0x40044405 none = -1 EPERM\n"
                                                    "ioctl dlog 0x40044406 none = 0\n"
                                                    "ioctl dlog 0x40044401 7 = -1 EINVAL\n"
                                                    "ioctl dlog 0x40044400 none = 0\n"
                                                    "close dlog\n");
}

TEST_F(DlogTest, UsageWithoutArgumentsAndAtHelpSendsNothingFurther) {
    ToolRun run = Run("dlog");
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_EQ(run.out.substr(0, 16), "usage: \n| \n-- -a");
    EXPECT_NE(run.out.find("\n    dlog -p [pid]\n    dlog -l [log level] \n"), std::string::npos) << run.out;
    EXPECT_EQ(Bench().TakeFlashJournal(), "") << "no device is opened for the usage";

    const std::string usage = run.out;
    run = Run("dlog", {"-a", "-h", "-p", "1"});
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_EQ(run.out, usage);
    EXPECT_EQ(Requests(Bench().TakeFlashJournal()), "open dlog O_RDWR = fd\nioctl dlog 0x40044400 none = 0\n")
        << "-h ends at once; the process end closes the device";
}

TEST_F(DlogTest, ADeviceThatWillNotOpenFailsTheToolAndEndsTheRecorder) {
    Bench().Settings().dlog.faults = {"fail open EACCES"};
    ToolRun run = Run("dlog", {"-a"});
    EXPECT_EQ(run.exitStatus, 255);
    EXPECT_EQ(WithoutLocations(run.out), SyserrLine("open \n", "Permission denied"));

    Bench().Settings().dlog = {};
    Bench().Settings().card.directory = MakeCard("card", {"DCIM", "DLOG"});
    run = Run("dlogger", {}, 20s);
    EXPECT_EQ(run.exitStatus, 255);
    EXPECT_EQ(WithoutLocations(run.out), InfoLine("SD card is detected.\n") +
                                             InfoLine("create file /tmp/SD0/DCIM/DLOG/dlog_0001.\n") +
                                             SyserrLine("open", "No such file or directory"));
}

TEST_F(DlogTest, RecorderNumbersFilesAndStartsANewOneAfterACardChange) {
    const std::string card = MakeCard("card", {"DCIM", "DLOG"});
    const std::string directory = card + kLogDirectory;
    { std::ofstream(directory + "/dlog_0003") << "old three"; }
    { std::ofstream(directory + "/dlog_0010") << "old ten"; }
    Bench().Settings().card.directory = card;
    tarn::bench::DlogSource source(Bench().DlogPath(), 4000);
    ASSERT_EQ(source.Start(), 0);
    ASSERT_TRUE(Start("dlogger"));
    ASSERT_TRUE(OutputHas("create file /tmp/SD0/DCIM/DLOG/dlog_0011.\n"));
    ASSERT_TRUE(WaitUntil([&] { return ReadFile(directory + "/dlog_0011").size() >= 2000; }));

    ASSERT_EQ(Bench().RemoveCard(), 0);
    ASSERT_TRUE(OutputHas(WarnLine("/tmp/SD0/DCIM/DLOG/dlog_0011 is not exit, maybe SD card is undetected.\n")));
    const std::string eleven = ReadFile(directory + "/dlog_0011");
    ASSERT_EQ(Bench().InsertCard({card, false, false}), 0);
    ASSERT_TRUE(OutputHas("create file /tmp/SD0/DCIM/DLOG/dlog_0012.\n"));
    ASSERT_TRUE(WaitUntil([&] { return ReadFile(directory + "/dlog_0012").size() >= 1000; }));
    Bench().Stop();
    source.Stop();

    EXPECT_EQ(ReadFile(directory + "/dlog_0011"), eleven) << "the file of the card's last visit is left as it was";
    EXPECT_EQ(ReadFile(directory + "/dlog_0003"), "old three");
    const std::string recorded = eleven + ReadFile(directory + "/dlog_0012");
    EXPECT_EQ(recorded, tarn::bench::DlogSource::Text(recorded.size()))
        << "every byte of the log once, in order, across the card change";
    EXPECT_EQ(Count("SD card is detected.\n"), 2u);
}

TEST_F(DlogTest, ANewRecorderGoesOnWhereTheLastOneStopped) {
    const std::string card = MakeCard("card", {"DCIM", "DLOG"});
    const std::string directory = card + kLogDirectory;
    { std::ofstream(directory + "/dlog_9999") << ""; }
    Bench().Settings().card.directory = card;
    tarn::bench::DlogSource source(Bench().DlogPath(), 4000);
    std::string recorded;
    for (const char *name : {"/dlog_10000", "/dlog_10001"}) {
        ASSERT_EQ(source.Start(), 0);
        ASSERT_TRUE(Start("dlogger"));
        ASSERT_TRUE(WaitUntil([&] { return ReadFile(directory + name).size() >= 1000; }));
        // Stopped only once it has written all there was, so nothing is lost in between.
        source.Stop();
        ASSERT_TRUE(
            WaitUntil([&] { return ReadFile(directory + name).size() + recorded.size() == source.BytesWritten(); }));
        Bench().Stop();
        recorded += ReadFile(directory + name);
    }
    EXPECT_EQ(recorded, tarn::bench::DlogSource::Text(recorded.size())) << "each byte handed out once, in order";
}

TEST_F(DlogTest, RecorderMakesTheLogFolderAndWaitsForACard) {
    const std::string card = MakeCard("card", {"DCIM"});
    ASSERT_TRUE(Start("dlogger"));
    ASSERT_TRUE(WaitUntil([&] { return test_support::SleepsInTheKernel(Bench().Pid()); }));
    ASSERT_EQ(Bench().InsertCard({card, false, false}), 0);
    ASSERT_TRUE(OutputHas("create file /tmp/SD0/DCIM/DLOG/dlog_0001.\n"));
    struct stat folder {};
    ASSERT_EQ(stat((card + kLogDirectory).c_str(), &folder), 0);
    // The line comes just before the file is made.
    EXPECT_TRUE(WaitUntil([&] { return Exists(card + kLogDirectory + "/dlog_0001"); }));
    EXPECT_EQ(Count("SD card is detected.\n"), 0u) << "a folder it made itself is not announced";
}

// A read-only card, then a full one: each failure is printed once, the recorder does not spin, and a good card
// afterwards is recorded.
TEST_F(DlogTest, RecorderOutlastsReadOnlyAndFullCardsQuietly) {
    const std::string card = MakeCard("card", {"DCIM"});
    Bench().Settings().card = {card, true, false};
    tarn::bench::DlogSource source(Bench().DlogPath(), 2000);
    ASSERT_EQ(source.Start(), 0);
    ASSERT_TRUE(Start("dlogger"));
    ASSERT_TRUE(OutputHas(SyserrLine("mkdir", "Read-only file system")));
    const double cpuBefore = CpuSeconds();
    const auto start = test_support::Clock::now();
    // Two more retries at one a second.
    ASSERT_TRUE(WaitUntil([&] { return test_support::MillisecondsSince(start) >= 2500; }, 5s));
    EXPECT_EQ(Count("mkdir"), 1u);
    EXPECT_LT(CpuSeconds() - cpuBefore, 0.3) << "waiting for a usable card costs next to nothing";

    ASSERT_EQ(Bench().RemoveCard(), 0);
    ASSERT_EQ(mkdir((card + kLogDirectory).c_str(), 0755), 0);
    ASSERT_EQ(Bench().InsertCard({card, false, true}), 0);
    ASSERT_TRUE(OutputHas(SyserrLine("write", "No space left on device")));
    const auto full = test_support::Clock::now();
    ASSERT_TRUE(WaitUntil([&] { return test_support::MillisecondsSince(full) >= 1500; }, 5s));
    EXPECT_EQ(Count("error(@) write"), 1u);

    // Room again: the filler goes, and the log goes on in the same file.
    ASSERT_EQ(unlink(Bench().PathInside("/tmp/SD0/.filler").c_str()), 0);
    const std::string file = Bench().PathInside("/tmp/SD0/DCIM/DLOG/dlog_0001");
    ASSERT_TRUE(WaitUntil([&] { return ReadFile(file).size() >= 500; }));
    ASSERT_EQ(Bench().RemoveCard(), 0);
    ASSERT_EQ(Bench().InsertCard({card, false, false}), 0);
    ASSERT_TRUE(WaitUntil([&] { return ReadFile(card + kLogDirectory + "/dlog_0001").size() >= 500; }));
    EXPECT_EQ(Count("create file /tmp/SD0/DCIM/DLOG/dlog_0001.\n"), 2u) << "once per card";
}

TEST_F(DlogTest, RecorderReportsAFailingReadOnceAndGoesOn) {
    const std::string card = MakeCard("card", {"DCIM", "DLOG"});
    Bench().Settings().card.directory = card;
    Bench().Settings().dlog.faults = {"fail read EIO 5"};
    tarn::bench::DlogSource source(Bench().DlogPath(), 2000);
    ASSERT_EQ(source.Start(), 0);
    ASSERT_TRUE(Start("dlogger"));
    ASSERT_TRUE(WaitUntil([&] { return ReadFile(card + kLogDirectory + "/dlog_0001").size() >= 200; }));
    EXPECT_EQ(Count(SyserrLine("read", "Input/output error")), 1u);
    const std::string journal = Bench().TakeFlashJournal();
    EXPECT_NE(journal.find("read dlog 1024 = -1 EIO\nread dlog 1024 = -1 EIO\n"), std::string::npos) << journal;
}

} // namespace
