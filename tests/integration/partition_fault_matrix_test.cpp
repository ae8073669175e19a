// Power cut at, and failure of, every erase and page write of clean partition upgrades: the board must
// always boot a whole set. Cuts inside the one-copy windows (boot loader, environment) are counted apart:
// there the environment must be the old one, the new one or unreadable, never another valid block.
#include "flash_fixture.h"

namespace {

using namespace bench_test;

// The requests of one kind in a clean run's journal, each marked true when it is on mtd0 (boot loader and
// environment: one copy).
std::vector<bool> Requests(const std::string &journal, const std::string &kind) {
    std::vector<bool> onMtd0;
    for (const std::string &line : JournalLines(journal, kind)) {
        onMtd0.push_back(line.compare(0, kind.size() + 6, kind + " mtd0 ") == 0);
    }
    return onMtd0;
}

struct Tally {
    int cases = 0;
    int inWindows = 0;
    int unbootable = 0;
    int environmentChanged = 0; // cases that left the environment block other than it was
};

class PartitionFaultMatrixSlow : public FlashTest {
protected:
    const std::vector<std::string> oldVariables_ = {"bootargs=mem=512M ubi.mtd=2", "bootpart=0",
                                                    "bootcmd=nand read 0x82000000 0x100000 0xa00000;bootm 0x82000000"};
    tarn::bench::BootImages sets_[2] = {{Pattern(4000, 1), Pattern(4096, 2), Pattern(2048, 3)},
                                        {Pattern(6000, 4), Pattern(3 * 2048, 5), Pattern(2048, 6)}};
    int folder_ = 0; // every board gets fresh images

    // A board running set 1, with set 1's images and the old environment, on fresh images.
    void Fresh() {
        UseBoard("hi3519", {}, "flash-" + std::to_string(folder_++));
        Bench().Settings().kernelCommandLine = "mem=512M ubi.mtd=2\n";
        PutEnvironment(oldVariables_);
        ASSERT_EQ(tarn::bench::WriteFlash(Flash(), 0x100000, sets_[0].kernel), 0);
        ASSERT_EQ(tarn::bench::WriteFlash(Flash(), 0xB00000, sets_[0].rootfs), 0);
        ASSERT_EQ(tarn::bench::WriteFlash(Flash(), 0x3D00000, sets_[0].appfs), 0);
    }

    // Runs the upgrade under each fault of every request of the clean run, checking the board after each.
    Tally RunMatrix(const std::vector<std::string> &arguments) {
        Fresh();
        Bench().TakeFlashJournal();
        const ToolRun clean = Run("upgrade_hi3519", arguments);
        EXPECT_EQ(clean.exitStatus, 0) << clean.out;
        const std::vector<uint8_t> newBlock = EnvironmentBlock();
        const std::string journal = Bench().TakeFlashJournal();
        Fresh();
        const std::vector<uint8_t> oldBlock = EnvironmentBlock();
        Tally tally;
        for (const char *kind : {"MEMERASE", "write"}) {
            const std::vector<bool> requests = Requests(journal, kind);
            EXPECT_FALSE(requests.empty()) << kind;
            for (size_t index = 0; index < requests.size(); ++index) {
                for (const char *fault : {"cut", "fail"}) {
                    Fresh();
                    Flash().faults = {std::string(fault) + " " + (std::string(kind) == "write" ? "write" : "erase") +
                                      " " + std::to_string(index + 1)};
                    const ToolRun run = Run("upgrade_hi3519", arguments);
                    const std::string label = std::string(fault) + " " + kind + " " + std::to_string(index + 1);
                    ++tally.cases;
                    if (std::string(fault) == "cut") {
                        EXPECT_EQ(run.exitStatus, 128 + SIGKILL) << label;
                    } else {
                        EXPECT_EQ(run.exitStatus, 255) << label << run.out;
                    }
                    const std::vector<uint8_t> block = EnvironmentBlock();
                    bool valid = false;
                    tarn::bench::ParseEnvironment(block, &valid);
                    tally.environmentChanged += block != oldBlock;
                    if (requests[index]) {
                        ++tally.inWindows;
                        EXPECT_TRUE(!valid || block == oldBlock || block == newBlock) << label << ": mixed environment";
                        // The sets are untouched in the windows: set 1 still holds its images.
                        const tarn::bench::BootImages untouched[2] = {sets_[0], {}};
                        Bench().Settings().flash.faults.clear();
                        EXPECT_TRUE(!valid || block == newBlock ||
                                    tarn::bench::CheckHi3519Boot(Flash(), untouched).Boots())
                            << label;
                        continue;
                    }
                    const tarn::bench::BootCheck boot = tarn::bench::CheckHi3519Boot(Flash(), sets_);
                    tally.unbootable += !boot.Boots();
                    EXPECT_TRUE(boot.Boots()) << label << ": set " << boot.set << " whole " << boot.whole;
                    if (std::string(fault) == "fail") {
                        EXPECT_EQ(boot.set, 1) << label << ": switched after a failure";
                    }
                }
            }
        }
        return tally;
    }
};

TEST_F(PartitionFaultMatrixSlow, AllFromAMergedImageAlwaysBootsAWholeSet) {
    PlaceFile("release.img", MergeImage({{kMergedUboot, Pattern(4096, 9)},
                                         {kMergedKernel, sets_[1].kernel},
                                         {kMergedRootfs, sets_[1].rootfs},
                                         {kMergedAppfs, sets_[1].appfs}}));
    const Tally tally = RunMatrix({"-a", "release.img"});
    printf("-a: %d fault cases, %d in the one-copy windows, %d unbootable\n", tally.cases, tally.inWindows,
           tally.unbootable);
    EXPECT_EQ(tally.unbootable, 0);
}

TEST_F(PartitionFaultMatrixSlow, SeparateImagesThenSwitchAlwaysBootAWholeSet) {
    PlaceFile("k.img", sets_[1].kernel);
    PlaceFile("r.img", sets_[1].rootfs);
    PlaceFile("p.img", sets_[1].appfs);
    const Tally tally = RunMatrix({"-k", "k.img", "-r", "r.img", "-p", "p.img", "-s"});
    printf("-k -r -p -s: %d fault cases, %d in the one-copy windows, %d unbootable\n", tally.cases, tally.inWindows,
           tally.unbootable);
    EXPECT_EQ(tally.unbootable, 0);
}

TEST_F(PartitionFaultMatrixSlow, BootLoaderWriteNeverTouchesTheEnvironmentOrTheSets) {
    PlaceFile("u.img", Pattern(3 * 2048 + 100, 9));
    const Tally tally = RunMatrix({"-u", "u.img"});
    printf("-u: %d fault cases, %d in the one-copy windows, %d unbootable\n", tally.cases, tally.inWindows,
           tally.unbootable);
    EXPECT_EQ(tally.inWindows, tally.cases); // the boot loader has one copy: every request is in a window
    EXPECT_EQ(tally.environmentChanged, 0);
}

} // namespace

namespace {

// DM368: one copy, so a cut may leave the target partly written; nothing else may change, and a clean retry
// after a failed attempt leaves the whole image.
TEST_F(PartitionFaultMatrixSlow, Dm368ChangesOnlyItsTargetAndARetryMendsIt) {
    const std::vector<uint8_t> image = Pattern(5 * 2048 + 100, 7);
    PlaceFile("fs.img", image);
    std::vector<uint8_t> padded = image;
    padded.resize(6 * 2048, 0xFF);
    const std::vector<uint8_t> kernel = Pattern(4096, 8);
    const std::vector<uint8_t> data = Pattern(4096, 9);
    int cases = 0;
    for (const char *tool : {"upgrade_dm368_fs", "upgrade_dm368_kernel"}) {
        const bool fs = std::string(tool) == "upgrade_dm368_fs";
        const uint64_t target = fs ? 0xA00000 : 0x500000, other = fs ? 0x500000 : 0xA00000;
        auto fresh = [&] {
            UseBoard("dm368", {}, "flash-" + std::to_string(folder_++));
            Flash().faults.clear();
            ASSERT_EQ(tarn::bench::WriteFlash(Flash(), other, kernel), 0);
            ASSERT_EQ(tarn::bench::WriteFlash(Flash(), 0x3A00000, data), 0);
        };
        fresh();
        Bench().TakeFlashJournal();
        ASSERT_EQ(Run(tool, {"fs.img"}).exitStatus, 0);
        const std::string journal = Bench().TakeFlashJournal();
        for (const char *kind : {"erase", "write"}) {
            const size_t count = JournalLines(journal, std::string(kind) == "erase" ? "MEMERASE" : "write").size();
            for (size_t index = 1; index <= count; ++index) {
                for (const char *fault : {"cut", "fail"}) {
                    fresh();
                    const std::string label =
                        std::string(tool) + " " + fault + " " + kind + " " + std::to_string(index);
                    Flash().faults = {std::string(fault) + " " + kind + " " + std::to_string(index)};
                    const ToolRun run = Run(tool, {"fs.img"});
                    ++cases;
                    EXPECT_EQ(tarn::bench::ReadFlash(Flash(), other, kernel.size()), kernel) << label;
                    EXPECT_EQ(tarn::bench::ReadFlash(Flash(), 0x3A00000, data.size()), data) << label;
                    if (std::string(fault) == "fail") {
                        // The retry after the one failure mends it.
                        EXPECT_EQ(run.exitStatus, 0) << label << run.out;
                    } else {
                        EXPECT_EQ(run.exitStatus, 128 + SIGKILL) << label;
                        Flash().faults.clear();
                        EXPECT_EQ(Run(tool, {"fs.img"}).exitStatus, 0) << label;
                    }
                    EXPECT_EQ(tarn::bench::ReadFlash(Flash(), target, padded.size()), padded) << label;
                }
            }
        }
    }
    printf("dm368: %d fault cases\n", cases);
}

} // namespace
