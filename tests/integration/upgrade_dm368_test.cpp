// upgrade_dm368_kernel and upgrade_dm368_fs on the bench's DM368 NAND (mtd2 kernel at 0x500000, mtd3 root
// file system at 0xA00000), through the fake driver's faults and journal.
#include "console_lines.h"
#include "flash_fixture.h"

namespace {

using namespace bench_test;

class UpgradeDm368Test : public FlashTest {
protected:
    void SetUp() override {
        FlashTest::SetUp();
        if (!IsSkipped()) {
            UseBoard("dm368");
        }
    }
};

TEST_F(UpgradeDm368Test, FsGoesToMtd3AfterTheWholePartitionIsErasedWithTheLastPagePadded) {
    const std::vector<uint8_t> image = Pattern(5000, 3);
    PlaceFile("fs.img", image);
    Bench().TakeFlashJournal();
    const ToolRun run = Run("upgrade_dm368_fs", {"fs.img"});
    EXPECT_EQ(run.exitStatus, 0) << run.out;
    EXPECT_EQ(WithoutLocations(run.out),
              InfoLine("upgrade file 'fs.img' to 'filesystem1' partition, will write 5000 bytes to /dev/mtd3\n") +
                  "\r41.0%\r81.9%\r100.0%\n");
    const std::string journal = Bench().TakeFlashJournal();
    EXPECT_EQ(JournalLines(journal, "MEMERASE").size(), 384u);
    EXPECT_EQ(JournalLines(journal, "write"),
              (std::vector<std::string>{"write mtd3 0x0 2048 = 2048", "write mtd3 0x800 2048 = 2048",
                                        "write mtd3 0x1000 2048 = 2048"}));
    std::vector<uint8_t> expected = image;
    expected.resize(3 * 2048, 0xFF);
    EXPECT_EQ(tarn::bench::ReadFlash(Flash(), 0xA00000, expected.size()), expected);
    EXPECT_EQ(tarn::bench::ReadFlash(Flash(), 0x500000, 4), std::vector<uint8_t>(4, 0xFF)) << "kernel touched";
}

TEST_F(UpgradeDm368Test, ATransientFailureIsRecoveredByTheRetry) {
    const std::vector<uint8_t> image = Pattern(3 * 2048, 9);
    PlaceFile("uImage", image);
    // Old contents, so the retry's erase is seen to matter.
    ASSERT_EQ(tarn::bench::WriteFlash(Flash(), 0x500000, std::vector<uint8_t>(8192, 0x11)), 0);
    Flash().faults = {"fail write 2"};
    const ToolRun run = Run("upgrade_dm368_kernel", {"uImage"});
    EXPECT_EQ(run.exitStatus, 0) << run.out;
    const std::string out = WithoutLocations(run.out);
    EXPECT_NE(out.find(SyserrLine("write", "Input/output error") + ErrorLine("write flash fail.\n") +
                       WarnLine("write partition error and do it again.\n")),
              std::string::npos)
        << out;
    EXPECT_EQ(tarn::bench::ReadFlash(Flash(), 0x500000, image.size()), image);
    EXPECT_EQ(tarn::bench::ReadFlash(Flash(), 0x500000 + image.size(), 2048), std::vector<uint8_t>(2048, 0xFF));

    // One read-back that differs fails the first attempt only.
    Flash().faults = {"mismatch 1"};
    const ToolRun mismatched = Run("upgrade_dm368_kernel", {"uImage"});
    EXPECT_EQ(mismatched.exitStatus, 0) << mismatched.out;
    EXPECT_NE(WithoutLocations(mismatched.out).find(ErrorLine("check flash fail.\n")), std::string::npos);
    EXPECT_EQ(tarn::bench::ReadFlash(Flash(), 0x500000, image.size()), image);

    // A page that always reads back differently fails both attempts.
    Flash().faults = {"flip 2 0x800 0x10"};
    const ToolRun flipped = Run("upgrade_dm368_kernel", {"uImage"});
    EXPECT_EQ(flipped.exitStatus, 255);
    EXPECT_EQ(WithoutLocations(flipped.out).find(ErrorLine("write partition faile.\n")) != std::string::npos, true);
}

TEST_F(UpgradeDm368Test, RefusalsEraseNothing) {
    PlaceFile("empty.img", {});
    PlaceFile("big.img", Pattern(0x500000 + 1, 1));
    PlaceFile("ok.img", Pattern(4096, 1));
    struct Case {
        const char *tool;
        const char *file;
        std::vector<uint32_t> bad;
        std::string board;
        std::string line;
    };
    const std::vector<Case> cases = {
        {"upgrade_dm368_kernel", "empty.img", {}, "dm368", ErrorLine("'empty.img' is empty.\n")},
        {"upgrade_dm368_kernel",
         "big.img",
         {},
         "dm368",
         ErrorLine("'big.img' of 5242881 bytes does not fit 'kernel' of 5242880 bytes.\n")},
        {"upgrade_dm368_fs", "ok.img", {24 + 16 + 40 + 383}, "dm368", WarnLine("bad block at 0x2fe0000.\n")},
        // On a Hi3519 the kernel's range lies inside kernel1.
        {"upgrade_dm368_kernel",
         "ok.img",
         {},
         "hi3519",
         ErrorLine("partition 'kernel' 0x500000-0xa00000 is not /dev/mtd2 on this board.\n")},
    };
    for (const Case &refused : cases) {
        UseBoard(refused.board, refused.bad, std::string("flash-") + refused.board + refused.file);
        Bench().TakeFlashJournal();
        const ToolRun run = Run(refused.tool, {refused.file});
        EXPECT_EQ(run.exitStatus, 255) << refused.file;
        const std::string attempt = refused.line + ErrorLine("erase flash fail.\n");
        EXPECT_EQ(WithoutLocations(run.out), attempt + WarnLine("write partition error and do it again.\n") + attempt +
                                                 ErrorLine("write partition faile.\n"))
            << refused.file;
        const std::string journal = Bench().TakeFlashJournal();
        EXPECT_TRUE(JournalLines(journal, "MEMERASE").empty()) << journal;
        EXPECT_TRUE(JournalLines(journal, "write").empty()) << journal;
    }
    const ToolRun usage = Run("upgrade_dm368_fs", {"a", "b"});
    EXPECT_EQ(usage.exitStatus, 255);
    EXPECT_EQ(usage.out, "usage: \n    upgrade_dm368 [file path] \n");
}

} // namespace
