// The Flash module on the bench's NAND (hi3519 map: mtd0 1 MiB, mtd1 10 MiB, ...), driven by a probe
// program of its own in the sandbox.
#include "console_lines.h"
#include "flash_fixture.h"

namespace {

using namespace bench_test;

class FlashModuleTest : public FlashTest {
protected:
    ToolRun Probe(const std::vector<std::string> &operations) { return Run(TARN_FLASH_PROBE, operations); }
};

TEST_F(FlashModuleTest, RowsComeFromTheDevicesAndRangesAreFoundByContainment) {
    const ToolRun run =
        Probe({"find:0x80000:0x40000", "find:0xFFFFF:1", "find:0xFFFFF:2", "find:0xF100000:0xF00000",
               "find:0xFFFFF000:0x2000", "exact:0x100000:0xA00000", "exact:0x100000:0x800000", "twice"});
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_EQ(WithoutLocations(run.out),
              "mtd0 0x0-0x100000\nfind:0x80000:0x40000 = 0\n"
              "mtd0 0x0-0x100000\nfind:0xFFFFF:1 = 0\n" +
                  ErrorLine("flash offset=0xfffff size=0x2 is invalid.\n") + "find:0xFFFFF:2 = -1\n" +
                  "mtd7 0xf100000-0x10000000\nfind:0xF100000:0xF00000 = 0\n" +
                  ErrorLine("flash offset=0xfffff000 size=0x2000 is invalid.\n") + "find:0xFFFFF000:0x2000 = -1\n" +
                  "exact:0x100000:0xA00000 = 1\nexact:0x100000:0x800000 = -1\ntwice = 0\n");
}

TEST_F(FlashModuleTest, PagesAndBlocksAreCheckedBeforeAnythingMoves) {
    UseBoard("hi3519", {8 + 2});
    Bench().TakeFlashJournal();
    ToolRun run = Probe({"read:0x100800:0x400", "erase:0x101000:0x20000", "write:0x100000:0x1000:0x5A",
                         "read:0x100800:0x800", "bad:0x100000:0x40000", "bad:0x100000:0x40001"});
    EXPECT_EQ(WithoutLocations(run.out),
              ErrorLine("flash read offset=0x800 size=0x400 is not multiple of page size=0x800.\n") +
                  "read:0x100800:0x400 = -1\n" +
                  ErrorLine("flash erase offset=0x1000 size=0x20000 is not multiple of page size=0x20000.\n") +
                  "erase:0x101000:0x20000 = -1\nwrite:0x100000:0x1000:0x5A = 0\nfirst byte 0x5a\n"
                  "read:0x100800:0x800 = 0\nbad:0x100000:0x40000 = 0\n" +
                  WarnLine("bad block at 0x40000.\n") + "bad:0x100000:0x40001 = -1\n");
    std::string journal = Bench().TakeFlashJournal();
    EXPECT_TRUE(JournalLines(journal, "MEMERASE").empty()) << journal;
    // Reading opens read-only; the misaligned read read nothing.
    EXPECT_EQ(JournalLines(journal, "read"), std::vector<std::string>{"read mtd1 0x800 2048 = 2048"});

    // An erase over the bad block erases the good ones before it and stops there.
    run = Probe({"erase:0x100000:0x60000"});
    EXPECT_EQ(WithoutLocations(run.out), WarnLine("bad block at 0x40000.\n") + "erase:0x100000:0x60000 = -1\n");
    journal = Bench().TakeFlashJournal();
    EXPECT_EQ(JournalLines(journal, "MEMERASE"),
              (std::vector<std::string>{"MEMERASE mtd1 0x0 0x20000 = 0", "MEMERASE mtd1 0x20000 0x20000 = 0"}));
    EXPECT_EQ(tarn::bench::ReadFlash(Flash(), 0x100000, 4), std::vector<uint8_t>(4, 0xFF));
}

TEST_F(FlashModuleTest, FailedRequestsAreReportedByName) {
    Flash().faults = {"fail erase 2", "fail getbad 0"};
    ToolRun run = Probe({"erase:0x100000:0x40000", "erase:0x80000:0x20000"});
    EXPECT_EQ(WithoutLocations(run.out),
              SyserrLine("ioctl", "Input/output error") + InfoLine("erase offset=0x020000, size=0x040000\n") +
                  "erase:0x100000:0x40000 = -1\n" + SyserrLine("ioctl", "Input/output error") +
                  InfoLine("erase offset=0x080000, size=0x0a0000\n") + "erase:0x80000:0x20000 = -1\n");
    // A device that cannot be opened ends the rows: nothing from it on is found.
    Flash().faults = {"fail open 2"};
    run = Probe({"find:0x100000:0x800", "find:0xB00000:0x800"});
    EXPECT_EQ(WithoutLocations(run.out),
              SyserrLine("open", "Input/output error") + "mtd1 0x100000-0xb00000\nfind:0x100000:0x800 = 0\n" +
                  ErrorLine("flash offset=0xb00000 size=0x800 is invalid.\n") + "find:0xB00000:0x800 = -1\n");
    Flash().faults = {"fail getinfo 1", "fail read 0"};
    run = Probe({"read:0x0:0x800", "find:0x100000:0x800"});
    EXPECT_EQ(WithoutLocations(run.out), SyserrLine("MEMGETINFO", "Input/output error") +
                                             SyserrLine("read", "Input/output error") + "read:0x0:0x800 = -1\n" +
                                             ErrorLine("flash offset=0x100000 size=0x800 is invalid.\n") +
                                             "find:0x100000:0x800 = -1\n");
}

TEST_F(FlashModuleTest, GetCopiesOnlyWhatFitsFromAGoodBlock) {
    ASSERT_EQ(tarn::bench::WriteFlash(Flash(), tarn::bench::kEnvironmentOffset,
                                      tarn::bench::MakeEnvironment({"bootcmd=run", "boot=12345678", "bootpart=1"})),
              0);
    ToolRun run = Probe({"get:boot:9", "get:boot:8", "get:bootpart:2", "get:bootarg:512"});
    EXPECT_EQ(WithoutLocations(run.out), "value '12345678'\nget:boot:9 = 0\n" + ErrorLine("\"boot\" too long\n") +
                                             "get:boot:8 = -2\nvalue '1'\nget:bootpart:2 = 0\n" +
                                             ErrorLine("\"bootarg\" not defined\n") + "get:bootarg:512 = -1\n");
    Flash().faults = {"flip 0 0x80004 0x02"};
    run = Probe({"get:bootpart:2"});
    EXPECT_NE(run.out.find("uboot env CRC error: 0x"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("get:bootpart:2 = -1\n"), std::string::npos) << run.out;
}

} // namespace
