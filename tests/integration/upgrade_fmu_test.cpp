// upgrade_fmu against the simulated flight controller: wire bytes, console lines, exit statuses.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "bench_fixture.h"
#include "console_lines.h"
#include "tarn_bench_sim_fmu_bootloader.h"

namespace {

using namespace bench_test;
using tarn::bench::FmuBootloaderSimulator;
using Bytes = std::vector<uint8_t>;

const Bytes kRestartFrame = {0xfe, 0x21, 0x05, 0xff, 0x00, 0x4c, 0x00, 0x00, 0x40, 0x40, 0x00, 0x00, 0x00, 0x40,
                             0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
                             0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xf6, 0x00, 0x01, 0x00, 0x01, 0x60, 0xe9};

const char kSiblingsStopped[] = "-9 AirLinkRelay\n-9 media_srv.out\n";

// One healthy run takes 5 s of restart, 3 s of drain and 8 s of erase before it programs anything.
constexpr auto kOneRunLimit = 60s;

Bytes Image(size_t size) {
    return TestImage(size, 13, 1);
}

// The console from the begin line to the end of a run whose sync needed a drain only.
std::string HealthyRun(const std::string &path, size_t size, const std::string &progress,
                       const std::string &verifyLines = "") {
    return BeginLine(path, size) + InfoLine("step 1: reboot fmu.\n") + InfoLine("step 2: bootload sync.\n") +
           WarnLine("read timeout.\n") + InfoLine("step 3: erase flash.\n") + InfoLine("step 4: program flash\n") +
           progress + "\n" + InfoLine("step 5: verify flash.\n") + verifyLines + InfoLine("step 6: reboot fmu.\n");
}

class UpgradeFmuTest : public DeviceLineTest<FmuBootloaderSimulator> {
protected:
    void SetUp() override {
        BenchTest::SetUp();
        Attach(0);
    }

    // The reboot request is the tool's last write: it can still be on its way through the line when the tool
    // has ended, so wait for the simulator to have taken it before counting.
    bool RebootArrived() const { return Sim().WaitForFrames(0x30, 1, 5s); }

    // The simulator records a request before it acts on it: give the restart a moment to take effect.
    bool LeftBootloader() const {
        return test_support::WaitUntil([this] { return !Sim().InBootloader(); });
    }

    std::vector<Bytes> Requests(int kind) const {
        std::vector<Bytes> requests;
        for (const tarn::bench::ReceivedFrame &frame : Sim().FramesOfKind(kind)) {
            requests.push_back(frame.bytes);
        }
        return requests;
    }
};

// Slow ones: each run waits out the protocol's own time-outs several times.
using UpgradeFmuSlow = UpgradeFmuTest;

TEST_F(UpgradeFmuTest, ProgramsA120ByteImageAsThreeChunksAndRestarts) {
    const Bytes image = Image(120);
    PlaceFile("fmu.bin", image);
    ASSERT_TRUE(Start("upgrade_fmu", {"fmu.bin"}));
    // The siblings are stopped before the first byte goes out.
    ASSERT_TRUE(Sim().WaitForFrames(FmuBootloaderSimulator::kRestartRequest, 1, 10s));
    EXPECT_EQ(kSiblingsStopped, Bench().KillallLog());
    const ToolRun run = Finish(kOneRunLimit);

    EXPECT_EQ(0, run.exitStatus) << run.out;
    EXPECT_EQ(HealthyRun("fmu.bin", 120, "\r 0.0%\r50.0%\r100.0%"), WithoutLocations(run.out));
    EXPECT_NE(std::string::npos, run.out.find("warn(tarn_upgrade_fmu.cpp|Fmu_Recv|")) << run.out;
    EXPECT_EQ(kSiblingsStopped, Bench().KillallLog());

    EXPECT_EQ(std::vector<Bytes>{kRestartFrame}, Requests(FmuBootloaderSimulator::kRestartRequest));
    EXPECT_EQ(std::vector<Bytes>{Bytes({0x21, 0x20})}, Requests(0x21));
    EXPECT_EQ(std::vector<Bytes>{Bytes({0x23, 0x20})}, Requests(0x23));
    EXPECT_EQ((std::vector<Bytes>{Bytes({0x22, 0x01, 0x20}), Bytes({0x22, 0x04, 0x20})}), Requests(0x22));
    EXPECT_EQ(std::vector<Bytes>{Bytes({0x29, 0x20})}, Requests(0x29));
    ASSERT_TRUE(RebootArrived());
    EXPECT_EQ(std::vector<Bytes>{Bytes({0x30, 0x20})}, Requests(0x30));
    EXPECT_TRUE(Requests(FmuBootloaderSimulator::kInvalidCommand).empty());
    EXPECT_EQ(66u * 2 + 128, Sim().FillerCount());

    const std::vector<Bytes> chunks = Requests(0x27);
    ASSERT_EQ(3u, chunks.size());
    for (size_t chunk = 0; chunk < chunks.size(); ++chunk) {
        ASSERT_EQ(63u, chunks[chunk].size());
        EXPECT_EQ(0x27, chunks[chunk][0]);
        EXPECT_EQ(0x3C, chunks[chunk][1]);
        EXPECT_EQ(0x20, chunks[chunk][62]);
    }
    EXPECT_EQ(Bytes(image.begin(), image.begin() + 60), Bytes(chunks[0].begin() + 2, chunks[0].end() - 1));
    EXPECT_EQ(Bytes(image.begin() + 60, image.end()), Bytes(chunks[1].begin() + 2, chunks[1].end() - 1));
    EXPECT_EQ(Bytes(60, 0xFF), Bytes(chunks[2].begin() + 2, chunks[2].end() - 1));
    EXPECT_TRUE(LeftBootloader()) << "the flight controller was restarted into its application";
}

TEST_F(UpgradeFmuTest, WholeChunkImageGetsAnExtraChunkAndOtherRevisionsSkipTheCrc) {
    PlaceFile("fmu.bin", Image(60));
    Sim().SetRevision(3);
    const ToolRun run = Run("upgrade_fmu", {"fmu.bin"}, kOneRunLimit);

    EXPECT_EQ(0, run.exitStatus) << run.out;
    EXPECT_EQ(HealthyRun("fmu.bin", 60, "\r 0.0%\r100.0%", WarnLine("unsupport bootload version 3.\n")),
              WithoutLocations(run.out));
    const std::vector<Bytes> chunks = Requests(0x27);
    ASSERT_EQ(2u, chunks.size());
    EXPECT_EQ(Bytes(60, 0xFF), Bytes(chunks[1].begin() + 2, chunks[1].end() - 1));
    EXPECT_EQ(std::vector<Bytes>{Bytes({0x22, 0x01, 0x20})}, Requests(0x22)) << "no flash size is asked for";
    EXPECT_TRUE(Requests(0x29).empty()) << "no CRC is asked for";
    ASSERT_TRUE(RebootArrived());
    EXPECT_EQ(1u, Requests(0x30).size());
}

TEST_F(UpgradeFmuTest, CrcMismatchFailsBothRunsAndTheControllerIsNeverRestarted) {
    PlaceFile("fmu.bin", Image(100));
    Sim().SetWrongCrc(true);
    const ToolRun run = Run("upgrade_fmu", {"fmu.bin"}, 2 * kOneRunLimit);

    EXPECT_EQ(255, run.exitStatus) << run.out;
    // The image padded with 0xFF to the whole application area is what the bootloader checks.
    const uint32_t expected = Sim().FlashCrc();
    char warning[96];
    snprintf(warning, sizeof(warning), "CRC wrong: received: 0x%x, expected: 0x%x\n", ~expected, expected);
    const std::string failedRun = InfoLine("step 1: reboot fmu.\n") + InfoLine("step 2: bootload sync.\n") +
                                  WarnLine("read timeout.\n") + InfoLine("step 3: erase flash.\n") +
                                  InfoLine("step 4: program flash\n") + "\r40.0%\r100.0%\n" +
                                  InfoLine("step 5: verify flash.\n") + WarnLine(warning) + ErrorLine("verify fail.\n");
    EXPECT_EQ(InfoLine("begin to upgrade file='fmu.bin' size=100 to firmware.\n") + failedRun +
                  WarnLine("upgrade fmu fail and try it again.\n") + failedRun + ErrorLine("upgrade fmu fail.\n"),
              WithoutLocations(run.out));
    // A reboot request would be the tool's last write, unanswered: it could still be on its way.
    SentByTheTool(Port());
    EXPECT_EQ(2u, Requests(0x29).size());
    EXPECT_TRUE(Requests(0x30).empty()) << "no reboot request";
    EXPECT_TRUE(Sim().InBootloader());
}

TEST_F(UpgradeFmuTest, BadSyncBytesFailOneSyncAttemptOnly) {
    PlaceFile("fmu.bin", Image(30));
    Sim().SetBadSync(1, 0x12, 0x13);
    const ToolRun run = Run("upgrade_fmu", {"fmu.bin"}, kOneRunLimit);

    EXPECT_EQ(0, run.exitStatus) << run.out;
    const std::string out = WithoutLocations(run.out);
    const std::string failedAttempt = WarnLine("read timeout.\n") + ErrorLine("bad sync 0x12,0x13 \n") +
                                      WarnLine("bootloader not responding and try it again.\n") +
                                      WarnLine("read timeout.\n") + InfoLine("step 3: erase flash.\n");
    EXPECT_NE(std::string::npos, out.find(failedAttempt)) << out;
    EXPECT_EQ(2u, Requests(0x21).size());
}

TEST_F(UpgradeFmuTest, UsageErrorsStopNothing) {
    for (const std::vector<std::string> &arguments : {std::vector<std::string>{}, {"a.bin", "b.bin"}}) {
        const ToolRun run = Run("upgrade_fmu", arguments);
        EXPECT_EQ(255, run.exitStatus);
        EXPECT_EQ("usage: \n| \neg: upgrade_fmu [file_path] \n", run.out);
    }
    EXPECT_EQ("", Bench().KillallLog());
    EXPECT_TRUE(SentByTheTool(Port()).empty());
}

TEST_F(UpgradeFmuTest, UnreadableOrEmptyFilesAreRefusedBeforeAnythingIsStoppedOrSent) {
    const ToolRun missing = Run("upgrade_fmu", {"missing.bin"});
    EXPECT_EQ(255, missing.exitStatus);
    EXPECT_EQ(SyserrLine("stat", "No such file or directory") + ErrorLine("get file buf fail.\n"),
              WithoutLocations(missing.out));

    PlaceFile("empty.bin", {});
    const ToolRun empty = Run("upgrade_fmu", {"empty.bin"});
    EXPECT_EQ(255, empty.exitStatus);
    EXPECT_EQ(ErrorLine("get file buf fail.\n"), WithoutLocations(empty.out));

    // A mistyped path changes nothing on the aircraft.
    EXPECT_EQ("", Bench().KillallLog());
    EXPECT_TRUE(SentByTheTool(Port()).empty());
}

TEST_F(UpgradeFmuTest, LineHeldByAnotherProcessStopsTheSiblingsOnceThenIsRefused) {
    PlaceFile("fmu.bin", Image(60));
    // Another process holds the line exclusively, as a sibling that opened it the way tarn does would.
    const int holder = open(Port().SlavePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(0, flock(holder, LOCK_EX | LOCK_NB));
    const ToolRun run = Run("upgrade_fmu", {"fmu.bin"});
    close(holder);

    EXPECT_EQ(255, run.exitStatus);
    EXPECT_EQ(ErrorLine("/dev/ttyS0 is in use.\n") + ErrorLine("init uart fail.\n"), WithoutLocations(run.out));
    EXPECT_EQ(kSiblingsStopped, Bench().KillallLog());
    EXPECT_TRUE(SentByTheTool(Port()).empty());
    EXPECT_GE(run.elapsed, 999ms) << "the line was asked for again while the stopped siblings exit";
}

TEST_F(UpgradeFmuSlow, SilentBootloaderFailsTwiceWithFourWarningsEach) {
    PlaceFile("fmu.bin", Image(120));
    Sim().SetSilent(true);
    const ToolRun run = Run("upgrade_fmu", {"fmu.bin"}, 180s);

    EXPECT_EQ(255, run.exitStatus) << run.out;
    std::string attempt = WarnLine("read timeout.\n") + WarnLine("read timeout.\n") + ErrorLine("recv data fail.\n");
    std::string upgradeRun = InfoLine("step 1: reboot fmu.\n") + InfoLine("step 2: bootload sync.\n");
    for (int failure = 0; failure < 4; ++failure) {
        upgradeRun += attempt + WarnLine("bootloader not responding and try it again.\n");
    }
    upgradeRun += attempt;
    EXPECT_EQ(InfoLine("begin to upgrade file='fmu.bin' size=120 to firmware.\n") + upgradeRun +
                  WarnLine("upgrade fmu fail and try it again.\n") + upgradeRun + ErrorLine("upgrade fmu fail.\n"),
              WithoutLocations(run.out));
    EXPECT_EQ(2u, Requests(FmuBootloaderSimulator::kRestartRequest).size());
    // Two runs of 5 s restart pause and five attempts of 3 s drain plus 3 s reply wait each.
    EXPECT_GE(run.elapsed, 69s);
    EXPECT_LT(run.elapsed, 170s);
}

TEST_F(UpgradeFmuSlow, LostEraseReplyIsAskedForThriceAndALostCrcFailsTheSecondRun) {
    PlaceFile("fmu.bin", Image(60));
    Sim().IgnoreNext(0x23, 1);
    Sim().IgnoreNext(0x29, 1);
    const ToolRun run = Run("upgrade_fmu", {"fmu.bin"}, 180s);

    EXPECT_EQ(255, run.exitStatus) << run.out;
    std::string eraseReply;
    for (int attempt = 0; attempt < 3; ++attempt) {
        eraseReply += WarnLine("read timeout.\n") + ErrorLine("recv data fail.\n") +
                      WarnLine("get sync fail and try it again...\n");
    }
    const std::string syncAndErase = InfoLine("step 1: reboot fmu.\n") + InfoLine("step 2: bootload sync.\n") +
                                     WarnLine("read timeout.\n") + InfoLine("step 3: erase flash.\n");
    const std::string firstRun = syncAndErase + eraseReply + ErrorLine("Fmu_Erase fail.\n");
    // The CRC's line has no newline of its own.
    const std::string secondRun = syncAndErase + InfoLine("step 4: program flash\n") + "\r 0.0%\r100.0%\n" +
                                  InfoLine("step 5: verify flash.\n") + WarnLine("read timeout.\n") +
                                  ErrorLine("did not receive CRC checksum") + ErrorLine("verify fail.\n");
    EXPECT_EQ(InfoLine("begin to upgrade file='fmu.bin' size=60 to firmware.\n") + firstRun +
                  WarnLine("upgrade fmu fail and try it again.\n") + secondRun + ErrorLine("upgrade fmu fail.\n"),
              WithoutLocations(run.out));
    EXPECT_EQ(2u, Requests(0x23).size());
    EXPECT_TRUE(Requests(0x30).empty()) << "a failed run does not restart the flight controller";
    // Restart pause, drain and erase pause twice, three reply waits, one CRC wait.
    EXPECT_GE(run.elapsed, 2 * (5s + 3s + 8s) + 4 * 3s);
    EXPECT_LT(run.elapsed, 170s);
}

TEST_F(UpgradeFmuSlow, LostChunkReplyFailsTheRunAndTheSecondRunProgramsAgain) {
    const Bytes image = Image(120);
    PlaceFile("fmu.bin", image);
    Sim().IgnoreNext(0x27, 1);
    const ToolRun run = Run("upgrade_fmu", {"fmu.bin"}, 180s);

    EXPECT_EQ(0, run.exitStatus) << run.out;
    const std::string out = WithoutLocations(run.out);
    const std::string lostChunk = InfoLine("step 4: program flash\n") + WarnLine("read timeout.\n") +
                                  ErrorLine("recv data fail.\n") + ErrorLine("get sync fail.\n") +
                                  ErrorLine("program fail.\n") + WarnLine("upgrade fmu fail and try it again.\n") +
                                  InfoLine("step 1: reboot fmu.\n");
    EXPECT_NE(std::string::npos, out.find(lostChunk)) << out;
    EXPECT_NE(std::string::npos, out.find(InfoLine("step 6: reboot fmu.\n"))) << out;
    // The second run erased the flash and wrote the whole image from its start.
    const std::vector<uint8_t> flash = Sim().Flash();
    EXPECT_EQ(image, Bytes(flash.begin(), flash.begin() + 120));
    EXPECT_EQ(1u + 3u, Requests(0x27).size());
}

TEST_F(UpgradeFmuSlow, ApplicationThatNeverFallsSilentDoesNotHoldTheDrain) {
    PlaceFile("fmu.bin", Image(120));
    Sim().SetApplicationChatter(true);
    Sim().IgnoreNext(FmuBootloaderSimulator::kRestartRequest, 1);
    const ToolRun run = Run("upgrade_fmu", {"fmu.bin"}, 180s);

    // The first run meets a chattering application five times; the second restarts it and succeeds.
    EXPECT_EQ(0, run.exitStatus) << run.out;
    const std::string out = WithoutLocations(run.out);
    EXPECT_NE(std::string::npos, out.find(WarnLine("upgrade fmu fail and try it again.\n"))) << out;
    EXPECT_NE(std::string::npos, out.find(InfoLine("step 6: reboot fmu.\n"))) << out;
    EXPECT_NE(std::string::npos, run.out.find("warn(tarn_upgrade_fmu.cpp|Fmu_Flush|")) << run.out;
    EXPECT_EQ(2u, Requests(FmuBootloaderSimulator::kRestartRequest).size());
    // Five drains end on their 10 s limit in the first run.
    EXPECT_GE(run.elapsed, 5 * 10s + 5s);
    EXPECT_LT(run.elapsed, 170s);
}

} // namespace
