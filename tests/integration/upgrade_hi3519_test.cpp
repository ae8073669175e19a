// upgrade_hi3519 on the bench's Hi3519 NAND: which set is written or refused for each running set and
// environment, the switch as one environment write, and a merged image checked whole before any erase.
#include "console_lines.h"
#include "flash_fixture.h"

namespace {

using namespace bench_test;

constexpr uint32_t kKernel1 = 0x100000, kKernel2 = 0x7900000, kRootfs2 = 0x8300000, kAppfs2 = 0xB500000;
const char *const kSet1Cmd = "bootcmd=nand read 0x82000000 0x100000 0xa00000;bootm 0x82000000";
const char *const kSet2Cmd = "bootcmd=nand read 0x82000000 0x7900000 0xa00000;bootm 0x82000000";

class UpgradeHi3519Test : public FlashTest {
protected:
    // The kernel's command line names the running set by its root file system; the environment its next.
    void Boot(const char *cmdlineMtd, const std::vector<std::string> &variables) {
        Bench().Settings().kernelCommandLine = std::string("mem=512M console=ttyAMA0 ") + cmdlineMtd + "\n";
        PutEnvironment(variables);
    }
    size_t Erases(const std::string &journal) { return JournalLines(journal, "MEMERASE").size(); }
    size_t Writes(const std::string &journal, const std::string &mtd) {
        size_t count = 0;
        for (const std::string &line : JournalLines(journal, "write")) {
            count += line.compare(0, 6 + mtd.size() + 1, "write " + mtd + " ") == 0;
        }
        return count;
    }
};

TEST_F(UpgradeHi3519Test, SeparateImagesGoToTheOtherSetAndOneEnvironmentWriteSwitches) {
    Boot("ubi.mtd=2", {"bootdelay=1", "bootargs=mem=512M ubi.mtd=2 root=ubi0:rootfs", "bootpart=0", "x=y"});
    const std::vector<uint8_t> kernel = Pattern(5000, 1);
    std::vector<uint8_t> rootfs = Pattern(4 * 2048, 2);
    std::fill(rootfs.begin() + 2048, rootfs.begin() + 4096, 0xFF); // an empty UBI page is not programmed
    PlaceFile("k.img", kernel);
    PlaceFile("r.img", rootfs);
    PlaceFile("p.img", Pattern(2048, 3));
    Bench().TakeFlashJournal();
    const ToolRun run = Run("upgrade_hi3519", {"-k", "k.img", "-r", "r.img", "-p", "p.img", "-s"});
    EXPECT_EQ(run.exitStatus, 0) << run.out;
    EXPECT_NE(WithoutLocations(run.out).find(
                  InfoLine("upgrade file 'k.img' to 'kernel2' partition, will write 5000 bytes to /dev/mtd4\n") +
                  "\r41.0%\r81.9%\r100.0%\n"),
              std::string::npos)
        << run.out;
    const std::string journal = Bench().TakeFlashJournal();
    std::vector<uint8_t> padded = kernel;
    padded.resize(3 * 2048, 0xFF);
    EXPECT_EQ(tarn::bench::ReadFlash(Flash(), kKernel2, padded.size()), padded);
    EXPECT_EQ(tarn::bench::ReadFlash(Flash(), kRootfs2, rootfs.size()), rootfs);
    // Each page programmed once, the empty one not at all.
    const auto programs = tarn::bench::ProgramCounts(journal);
    EXPECT_EQ(programs.count({"mtd5", 0x800}), 0u);
    for (const uint64_t page : {0x0, 0x1000, 0x1800}) {
        EXPECT_EQ(programs.count({"mtd5", page}) != 0 ? programs.at({"mtd5", page}) : 0, 1) << page;
    }
    EXPECT_EQ(Writes(journal, "mtd1") + Writes(journal, "mtd2") + Writes(journal, "mtd3"), 0u) << "running set";
    // The block the three Sets would leave, written with one erase of its two blocks.
    EXPECT_EQ(Environment(), (std::vector<std::string>{"bootdelay=1", "x=y", "bootpart=1",
                                                       "bootargs=mem=512M ubi.mtd=5 root=ubi0:rootfs", kSet2Cmd}));
    size_t environmentErases = 0;
    for (const std::string &line : JournalLines(journal, "MEMERASE")) {
        environmentErases += line.rfind("MEMERASE mtd0 ", 0) == 0;
    }
    EXPECT_EQ(environmentErases, 2u);
}

TEST_F(UpgradeHi3519Test, RunningSetAndEnvironmentDecideWhatIsWrittenOrRefused) {
    PlaceFile("k.img", Pattern(2048, 5));
    const std::vector<std::string> pendingTo2 = {"bootargs=ubi.mtd=5", "bootpart=1", kSet2Cmd};
    // Set 1 runs but set 2 boots next: nothing is written before a reboot.
    Boot("ubi.mtd=2", pendingTo2);
    Bench().TakeFlashJournal();
    ToolRun run = Run("upgrade_hi3519", {"-k", "k.img", "-s"});
    EXPECT_EQ(run.exitStatus, 255);
    EXPECT_EQ(WithoutLocations(run.out), ErrorLine("set 1 runs and set 2 boots next: reboot before writing again.\n") +
                                             ErrorLine("select upgrade part fail.\n"));
    EXPECT_EQ(Erases(Bench().TakeFlashJournal()), 0u);
    EXPECT_EQ(Environment(), pendingTo2);

    // After the reboot set 2 runs: set 1 is written.
    Boot("ubi.mtd=5", pendingTo2);
    run = Run("upgrade_hi3519", {"-k", "k.img"});
    EXPECT_EQ(run.exitStatus, 0) << run.out;
    EXPECT_EQ(tarn::bench::ReadFlash(Flash(), kKernel1, 2048), Pattern(2048, 5));

    // A command line naming neither set: the environment says which runs.
    Boot("root=/dev/mtdblock3", {"bootargs=ubi.mtd=5"});
    Bench().TakeFlashJournal();
    run = Run("upgrade_hi3519", {"-k", "k.img", "-s"});
    EXPECT_EQ(run.exitStatus, 0) << run.out;
    EXPECT_EQ(Writes(Bench().TakeFlashJournal(), "mtd1"), 1u);
    EXPECT_EQ(Environment(), (std::vector<std::string>{"bootpart=0", "bootargs=ubi.mtd=2", kSet1Cmd}));

    // Neither names a set: refused.
    Boot("root=/dev/mtdblock3", {"bootargs=root=/dev/mtdblock3"});
    run = Run("upgrade_hi3519", {"-k", "k.img"});
    EXPECT_EQ(run.exitStatus, 255);
    EXPECT_EQ(WithoutLocations(run.out), ErrorLine("select upgrade part fail.\n"));
}

TEST_F(UpgradeHi3519Test, RefusedSwitchesAndFailedOptionsChangeNothing) {
    const std::vector<std::string> wrongPart = {"bootargs=ubi.mtd=2", "bootpart=1"};
    Boot("ubi.mtd=2", wrongPart);
    ToolRun run = Run("upgrade_hi3519", {"-s"});
    EXPECT_EQ(run.exitStatus, 255);
    EXPECT_EQ(WithoutLocations(run.out), ErrorLine("invalid bootpart=1.\n"));
    EXPECT_EQ(Environment(), wrongPart);

    const std::vector<std::string> longPart = {"bootargs=ubi.mtd=2", "bootpart=12345678"};
    Boot("ubi.mtd=2", longPart);
    run = Run("upgrade_hi3519", {"-s"});
    EXPECT_EQ(run.exitStatus, 255);
    EXPECT_EQ(WithoutLocations(run.out), ErrorLine("\"bootpart\" too long\n"));
    EXPECT_EQ(Environment(), longPart);

    // A failing option ends the run before the switch: a bad block, a page that reads back wrong, a failed
    // write, an image too large for its row.
    const std::vector<std::string> good = {"bootargs=ubi.mtd=2", "bootpart=0"};
    PlaceFile("k.img", Pattern(4096, 7));
    PlaceFile("big.img", Pattern(0xA00000 + 1, 7));
    struct Case {
        std::vector<uint32_t> bad;
        std::vector<std::string> faults;
        const char *file;
        std::string line;
    };
    const std::vector<Case> cases = {
        {{0x7900000 / 0x20000 + 3}, {}, "k.img", WarnLine("bad block at 0x60000.\n")},
        {{}, {"flip 4 0x800 0x01"}, "k.img", ErrorLine("check flash fail.\n")},
        {{}, {"fail write 2"}, "k.img", ErrorLine("write flash fail.\n")},
        {{}, {}, "big.img", ErrorLine("'big.img' of 10485761 bytes does not fit 'kernel2' of 10485760 bytes.\n")},
    };
    for (const Case &failing : cases) {
        UseBoard("hi3519", failing.bad, "flash-" + std::to_string(&failing - cases.data()));
        Boot("ubi.mtd=2", good);
        Flash().faults = failing.faults;
        run = Run("upgrade_hi3519", {"-k", failing.file, "-s"});
        EXPECT_EQ(run.exitStatus, 255);
        EXPECT_NE(WithoutLocations(run.out).find(failing.line), std::string::npos) << run.out;
        EXPECT_EQ(Environment(), good);
    }
}

TEST_F(UpgradeHi3519Test, AMergedImageIsCheckedWholeBeforeAnyErase) {
    Boot("ubi.mtd=2", {"bootargs=ubi.mtd=2", "bootpart=0"});
    const std::vector<uint8_t> kernel = Pattern(3000, 1), rootfs = Pattern(4096, 2);
    const std::vector<uint8_t> good = MergeImage({{kMergedKernel, kernel}, {kMergedRootfs, rootfs}});
    std::vector<uint8_t> badLastCrc = good;
    badLastCrc.back() ^= 1;
    std::vector<uint8_t> truncatedHead = good;
    truncatedHead.insert(truncatedHead.end(), good.begin(), good.begin() + 10);
    std::vector<uint8_t> wrapping = MergeImage({{kMergedKernel, kernel}});
    std::vector<uint8_t> wrapHead(kMergedHeadSize);
    std::copy(good.begin(), good.begin() + kMergedHeadSize, wrapHead.begin());
    wrapHead[16] = wrapHead[17] = wrapHead[18] = wrapHead[19] = 0xFF;
    wrapping.insert(wrapping.end(), wrapHead.begin(), wrapHead.end());
    const std::vector<uint8_t> duplicate = MergeImage({{kMergedKernel, kernel}, {kMergedKernel, kernel}});
    std::vector<uint8_t> unterminated = good;
    std::fill(unterminated.begin(), unterminated.begin() + 16, 'k');
    const std::vector<std::pair<std::string, std::vector<uint8_t>>> refused = {
        {"crc.img", badLastCrc}, {"head.img", truncatedHead}, {"wrap.img", wrapping},
        {"dup.img", duplicate},  {"name.img", unterminated},  {"empty.img", {}},
    };
    for (const auto &[name, bytes] : refused) {
        PlaceFile(name, bytes);
        Bench().TakeFlashJournal();
        const ToolRun run = Run("upgrade_hi3519", {"-a", name});
        EXPECT_EQ(run.exitStatus, 255) << name;
        EXPECT_EQ(Erases(Bench().TakeFlashJournal()), 0u) << name << run.out;
    }

    PlaceFile("release.img", good);
    ToolRun run = Run("upgrade_hi3519", {"-a", "release.img"});
    EXPECT_EQ(run.exitStatus, 0) << run.out;
    const std::string ending = "100.0%\n" + InfoLine("upgrade success, please reboot system!\n");
    const std::string out = WithoutLocations(run.out);
    EXPECT_EQ(out.substr(out.size() - std::min(out.size(), ending.size())), ending) << out;
    EXPECT_EQ(tarn::bench::ReadFlash(Flash(), kKernel2, kernel.size()), kernel);
    EXPECT_EQ(tarn::bench::ReadFlash(Flash(), kRootfs2, rootfs.size()), rootfs);
    EXPECT_EQ(Environment(), (std::vector<std::string>{"bootpart=1", "bootargs=ubi.mtd=5", kSet2Cmd}));
    // Until the reboot, a second run is refused before it erases.
    Bench().TakeFlashJournal();
    run = Run("upgrade_hi3519", {"-a", "release.img"});
    EXPECT_EQ(run.exitStatus, 255);
    EXPECT_EQ(Erases(Bench().TakeFlashJournal()), 0u);
}

TEST_F(UpgradeHi3519Test, TheBootLoaderWriteLeavesTheEnvironmentAlone) {
    const std::vector<std::string> variables = {"bootargs=ubi.mtd=2", "bootpart=0"};
    for (const size_t size : {size_t{0x100000}, size_t{0x60000}, size_t{0x90000}}) {
        Boot("ubi.mtd=2", variables);
        const std::vector<uint8_t> before = EnvironmentBlock();
        const std::vector<uint8_t> uboot = Pattern(size, 9);
        PlaceFile("u.img", uboot);
        const ToolRun run = Run("upgrade_hi3519", {"-u", "u.img"});
        EXPECT_EQ(run.exitStatus, 0) << run.out;
        EXPECT_EQ(EnvironmentBlock(), before) << size;
        const size_t head = std::min<size_t>(size, 0x80000);
        EXPECT_EQ(tarn::bench::ReadFlash(Flash(), 0, head), std::vector<uint8_t>(uboot.begin(), uboot.begin() + head));
        if (size > 0xC0000) {
            EXPECT_EQ(tarn::bench::ReadFlash(Flash(), 0xC0000, size - 0xC0000),
                      std::vector<uint8_t>(uboot.begin() + 0xC0000, uboot.end()));
        }
    }
}

} // namespace
