// upgrade_fmu_super against the simulated second-generation flight controller: the packets on the line, the
// console, the image the bootloader keeps, exit statuses.
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <sys/file.h>
#include <unistd.h>

#include "bench_fixture.h"
#include "console_lines.h"
#include "tarn_bench_sim_fmu_super.h"
#include "tarn_byte_order.h"

namespace {

using namespace bench_test;
using tarn::bench::FmuSuperSimulator;
using Bytes = std::vector<uint8_t>;

// Restart pause and two drains of 5 s each in a healthy run.
constexpr auto kHealthyRunFloor = 15s - 1ms;
constexpr auto kOneRunLimit = 60s;

constexpr int Boot(uint16_t command) {
    return FmuSuperSimulator::BootKind(command);
}

// An upgrade file: the 256-byte header (identity, image length, type) and a body of fileSize - 256 bytes.
Bytes UpgradeFile(size_t fileSize, uint16_t type = 1, uint32_t shortBy = 0) {
    Bytes file(fileSize);
    for (size_t index = 256; index < fileSize; ++index) {
        file[index] = static_cast<uint8_t>(index * 11 + 5);
    }
    memcpy(file.data(), "OrvoxPelicarnSmartSystem", 24);
    tarn::StoreBe32(&file[24], static_cast<uint32_t>(fileSize - 256 - shortBy));
    tarn::StoreBe16(&file[28], type);
    return file;
}

std::string HealthyRun(const std::string &remainLines) {
    return InfoLine("step 1: reboot fmu.\n") + InfoLine("step 2: bootload sync.\n") + "HandShake \n" +
           InfoLine("step 3: erase flash.\n") + InfoLine("step 4: program flash\n") + remainLines +
           InfoLine("step 5: verify flash.\n") + InfoLine("step 6: reboot fmu.\n");
}

std::string Begin(size_t size) {
    return InfoLine("begin to upgrade file='fmu.bin' size=" + std::to_string(size) + " to firmware.\n");
}

// A COMMAND_LONG as the line carried it: from system 0, component 0; command, param1 and param2 (their float bits),
// target system, confirmation.
void ExpectRestart(const Bytes &wire, uint16_t command, uint32_t param1, uint32_t param2) {
    ASSERT_EQ(41u, wire.size());
    EXPECT_EQ((Bytes{0xFE, 33}), Bytes(wire.begin(), wire.begin() + 2));
    EXPECT_EQ((Bytes{0, 0, 76}), Bytes(wire.begin() + 3, wire.begin() + 6));
    EXPECT_EQ(param1, tarn::LoadLe32(&wire[6]));
    EXPECT_EQ(param2, tarn::LoadLe32(&wire[10]));
    EXPECT_EQ(command, tarn::LoadLe16(&wire[34]));
    EXPECT_EQ((Bytes{1, 0, 1}), Bytes(wire.begin() + 36, wire.begin() + 39));
}

class UpgradeFmuSuperTest : public BenchTest {
protected:
    void SetUp() override {
        BenchTest::SetUp();
        port_ = MakeLine();
        ASSERT_NE(port_, nullptr);
        Bench().Settings().serial[0] = port_.get();
        sim_ = std::make_unique<FmuSuperSimulator>(*port_);
        ASSERT_EQ(0, sim_->Start());
    }
    void TearDown() override { sim_.reset(); }

    FmuSuperSimulator &Sim() { return *sim_; }
    tarn::bench::SimPort &Port() { return *port_; }

    std::vector<Bytes> Requests(int kind) const {
        std::vector<Bytes> requests;
        for (const tarn::bench::ReceivedFrame &frame : sim_->FramesOfKind(kind)) {
            requests.push_back(frame.bytes);
        }
        return requests;
    }

    // The restart into the application is the tool's last write, unanswered: wait for it to arrive.
    bool BackInApplication() const {
        return sim_->WaitForFrames(FmuSuperSimulator::kToApplication, 1, 5s) &&
               test_support::WaitUntil([this] { return !sim_->InBootloader(); });
    }

private:
    std::unique_ptr<tarn::bench::SimPort> port_;
    std::unique_ptr<FmuSuperSimulator> sim_;
};

// Each case sits through several runs of 15 s of mandated waits, or through a chattering application's drains.
using UpgradeFmuSuperSlow = UpgradeFmuSuperTest;

TEST_F(UpgradeFmuSuperTest, ThousandBytesGoAsTwoFragmentsOf512AndTheBootloaderKeepsTheFile) {
    const Bytes file = UpgradeFile(1000);
    PlaceFile("fmu.bin", file);
    Sim().SetFragmentLengths({512});
    const std::string kept = Bench().WorkDirectory() + "/kept.bin";
    Sim().SetImagePath(kept);
    const ToolRun run = Run("upgrade_fmu_super", {"-u", "fmu.bin"}, kOneRunLimit);

    EXPECT_EQ(0, run.exitStatus) << run.out;
    EXPECT_EQ(Begin(1000) + HealthyRun("remainsize:0x3e8\nremainsize:0x1e8\n"), WithoutLocations(run.out));
    EXPECT_GE(run.elapsed, kHealthyRunFloor);
    ASSERT_TRUE(BackInApplication());

    const std::vector<Bytes> toBootloader = Requests(FmuSuperSimulator::kToBootloader);
    ASSERT_EQ(1u, toBootloader.size());
    ExpectRestart(toBootloader[0], 0, 0x40000000, 0);
    ExpectRestart(Requests(FmuSuperSimulator::kToApplication).at(0), 246, 0x3F800000, 0x3F800000);

    // The handshake is all zeros: CRC-16/XMODEM of four zero bytes is 0.
    EXPECT_EQ((std::vector<Bytes>{Bytes{0x02, 0, 0, 0, 0, 0, 0}}), Requests(Boot(0x0000)));
    const std::vector<Bytes> erase = Requests(Boot(0x0110));
    ASSERT_EQ(1u, erase.size());
    EXPECT_EQ((Bytes{0x02, 0x01, 0x10, 0x00, 0x04}), Bytes(erase[0].begin(), erase[0].begin() + 5));
    EXPECT_EQ((Bytes{0x00, 0x00, 0x03, 0xE8}), Bytes(erase[0].begin() + 7, erase[0].begin() + 11));
    const std::vector<Bytes> fragments = Requests(Boot(0x0310));
    ASSERT_EQ(2u, fragments.size());
    EXPECT_EQ(7u + 2 + 512 + 2, fragments[0].size());
    EXPECT_EQ(7u + 2 + 488 + 2, fragments[1].size());
    EXPECT_EQ((Bytes{0x00, 0x00}), Bytes(fragments[0].begin() + 7, fragments[0].begin() + 9));
    EXPECT_EQ((Bytes{0x00, 0x01}), Bytes(fragments[1].begin() + 7, fragments[1].begin() + 9));
    EXPECT_EQ(1u, Requests(Boot(0x0400)).size());

    EXPECT_EQ(file, Sim().Image());
    std::ifstream keptFile(kept, std::ios::binary);
    EXPECT_EQ(file, Bytes(std::istreambuf_iterator<char>(keptFile), {}));
    EXPECT_EQ(1, Sim().GoodFinishes());
    EXPECT_TRUE(Sim().Complaints().empty());
}

TEST_F(UpgradeFmuSuperTest, RefusedFragmentIsSentAgainUnchangedWithoutALine) {
    const Bytes file = UpgradeFile(1000);
    PlaceFile("fmu.bin", file);
    Sim().SetFragmentLengths({512});
    Sim().ArmAnswerFault(0x0310, FmuSuperSimulator::AnswerFault::ErrorCode);
    const ToolRun run = Run("upgrade_fmu_super", {"-u", "fmu.bin"}, kOneRunLimit);

    EXPECT_EQ(0, run.exitStatus) << run.out;
    EXPECT_EQ(Begin(1000) + HealthyRun("remainsize:0x3e8\nremainsize:0x1e8\n"), WithoutLocations(run.out));
    const std::vector<Bytes> fragments = Requests(Boot(0x0310));
    ASSERT_EQ(3u, fragments.size());
    EXPECT_EQ(fragments[0], fragments[1]);
    EXPECT_EQ(file, Sim().Image());
}

TEST_F(UpgradeFmuSuperTest, BadFilesAreRefusedBeforeAnythingIsSent) {
    struct Case {
        const char *what;
        Bytes file;
        std::string lines;
    };
    Bytes foreign = UpgradeFile(600);
    foreign[3] = 'X';
    const Bytes truncated = UpgradeFile(600);
    const std::string refused = ErrorLine("upgrade fille (fmu.bin) checked failed\n");
    const Case cases[] = {
        {"type 2", UpgradeFile(600, 2), ErrorLine("filetype (0x2) error\n") + refused},
        {"image 300 bytes short", UpgradeFile(600, 1, 300), ErrorLine("file len is out of range\n") + refused},
        {"shorter than its header", Bytes(truncated.begin(), truncated.begin() + 200),
         ErrorLine("file len is out of range\n") + refused},
        {"another identity", foreign, refused},
        {"empty", Bytes{}, ErrorLine("we havenot read file \n") + refused},
    };
    for (const Case &item : cases) {
        PlaceFile("fmu.bin", item.file);
        const ToolRun run = Run("upgrade_fmu_super", {"-u", "fmu.bin"});
        EXPECT_EQ(255, run.exitStatus) << item.what;
        EXPECT_EQ(item.lines, WithoutLocations(run.out)) << item.what;
    }
    const ToolRun missing = Run("upgrade_fmu_super", {"-u", "missing.bin"});
    EXPECT_EQ(255, missing.exitStatus);
    EXPECT_EQ(ErrorLine("stat") + SyserrLine("open", "No such file or directory") + ErrorLine("get file buf fail.\n"),
              WithoutLocations(missing.out));
    // Without arguments it does nothing at all.
    const ToolRun bare = Run("upgrade_fmu_super");
    EXPECT_EQ(0, bare.exitStatus);
    EXPECT_EQ("", bare.out);
    EXPECT_TRUE(SentByTheTool(Port()).empty());
}

TEST_F(UpgradeFmuSuperTest, RestartOptionsSendOneRequestEachAndExitZero) {
    const ToolRun toBootloader = Run("upgrade_fmu_super", {"-s"});
    EXPECT_EQ(0, toBootloader.exitStatus);
    EXPECT_EQ("", toBootloader.out);
    ASSERT_TRUE(Sim().WaitForFrames(FmuSuperSimulator::kToBootloader, 1, 5s));
    EXPECT_TRUE(test_support::WaitUntil([this] { return Sim().InBootloader(); }));

    // A failed upgrade before -r still ends in the restart, and -r's status.
    const ToolRun toApplication = Run("upgrade_fmu_super", {"-u", "missing.bin", "-r", "-s"});
    EXPECT_EQ(0, toApplication.exitStatus);
    EXPECT_TRUE(BackInApplication());
    SentByTheTool(Port());
    EXPECT_EQ(1u, Requests(FmuSuperSimulator::kToApplication).size());
    EXPECT_EQ(1u, Requests(FmuSuperSimulator::kToBootloader).size()) << "-r ends the options";
}

TEST_F(UpgradeFmuSuperTest, LineHeldByAnotherProcessIsRefusedAndNothingIsSent) {
    PlaceFile("fmu.bin", UpgradeFile(600));
    const int holder = open(Port().SlavePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(0, flock(holder, LOCK_EX | LOCK_NB));
    const ToolRun run = Run("upgrade_fmu_super", {"-u", "fmu.bin"});
    const ToolRun restart = Run("upgrade_fmu_super", {"-r"});
    close(holder);

    EXPECT_EQ(255, run.exitStatus);
    const std::string busy =
        ErrorLine("/dev/ttyS0 is in use.\n") + ErrorLine("uart init fail.\n") + ErrorLine("Uart_Create \n");
    EXPECT_EQ(busy, WithoutLocations(run.out));
    EXPECT_EQ(0, restart.exitStatus);
    EXPECT_EQ(busy, WithoutLocations(restart.out));
    EXPECT_TRUE(SentByTheTool(Port()).empty());
}

TEST_F(UpgradeFmuSuperSlow, WrongFragmentLengthsFailTheirRunsAndTheThirdRunSucceeds) {
    const Bytes file = UpgradeFile(3000);
    PlaceFile("fmu.bin", file);
    Sim().SetFragmentLengths({0x0300, 4096, 1024});
    const ToolRun run = Run("upgrade_fmu_super", {"-u", "fmu.bin"}, 3 * kOneRunLimit);

    EXPECT_EQ(0, run.exitStatus) << run.out;
    const std::string failedRun = InfoLine("step 1: reboot fmu.\n") + InfoLine("step 2: bootload sync.\n") +
                                  "HandShake \n" + InfoLine("step 3: erase flash.\n");
    EXPECT_EQ(Begin(3000) + failedRun + ErrorLine(" FragLen(0x300) is error\n") + ErrorLine("Fmu_Erase fail.\n") +
                  WarnLine("upgrade fmu fail and try it again.\n") + failedRun +
                  ErrorLine(" FragLen(0x1000) is error\n") + ErrorLine("Fmu_Erase fail.\n") +
                  WarnLine("upgrade fmu fail and try it again.\n") +
                  HealthyRun("remainsize:0xbb8\nremainsize:0x7b8\nremainsize:0x3b8\n"),
              WithoutLocations(run.out));
    EXPECT_EQ(3u, Requests(Boot(0x0110)).size());
    EXPECT_EQ(3u, Requests(Boot(0x0310)).size()) << "no fragment before a good erase answer";
    EXPECT_EQ(file, Sim().Image());
    EXPECT_GE(run.elapsed, 3 * kHealthyRunFloor);
}

TEST_F(UpgradeFmuSuperSlow, ChatteringApplicationEndsEachDrainAfterTenSeconds) {
    PlaceFile("fmu.bin", UpgradeFile(600));
    Sim().SetApplicationChatter(true);
    // The first restart request is lost: the first run meets the application five times.
    Sim().IgnoreNext(FmuSuperSimulator::kToBootloader, 1);
    const ToolRun run = Run("upgrade_fmu_super", {"-u", "fmu.bin"}, 4 * kOneRunLimit);

    EXPECT_EQ(0, run.exitStatus) << run.out;
    const std::string out = WithoutLocations(run.out);
    const size_t secondRun = out.find(WarnLine("upgrade fmu fail and try it again.\n"));
    ASSERT_NE(std::string::npos, secondRun) << out;
    size_t timeOuts = 0;
    for (size_t at = out.find(" handshake time out"); at < secondRun; at = out.find(" handshake time out", at + 1)) {
        ++timeOuts;
    }
    EXPECT_EQ(5u, timeOuts);
    EXPECT_NE(std::string::npos, out.find(InfoLine("step 6: reboot fmu.\n"), secondRun)) << out;
    EXPECT_EQ(2u, Requests(FmuSuperSimulator::kToBootloader).size());
    EXPECT_EQ(UpgradeFile(600), Sim().Image());
    // Five drains cut at 10 s and five 5 s handshake windows, then a healthy run.
    EXPECT_GE(run.elapsed, 5 * (10s + 5s) + kHealthyRunFloor);
}

} // namespace
