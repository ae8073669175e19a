// setuenv and priuenv on the bench's NAND, checked against the environment tools of other projects
// (mkenvimage, fw_printenv, fw_setenv) and through the fake driver's faults.
#include <fstream>

#include "console_lines.h"
#include "flash_fixture.h"
#include "tarn_byte_order.h"
#include "tarn_crc.h"

namespace {

using namespace bench_test;

const std::vector<std::string> kBoardVariables = {"bootargs=mem=512M ubi.mtd=2", "bootcmd=nand read", "bootpart=0"};

class UenvToolTest : public FlashTest {
protected:
    void SetUp() override {
        FlashTest::SetUp();
        if (!IsSkipped()) {
            PutEnvironment(kBoardVariables);
        }
    }
    // Runs a program of another project on the host over mtd0's image, which holds the block at 0x80000.
    int RunHostTool(const std::string &command) {
        const std::string config = Bench().WorkDirectory() + "/fw_env.config";
        std::ofstream(config) << Flash().devices[0].imagePath << " 0x80000 0x40000\n";
        return system((command + " -c " + config + " > " + Bench().WorkDirectory() + "/host.out 2>&1").c_str());
    }
    std::string HostOutput() {
        std::ifstream file(Bench().WorkDirectory() + "/host.out");
        return std::string(std::istreambuf_iterator<char>(file), {});
    }
};

std::string InfoLines(const std::vector<std::string> &texts) {
    std::string lines;
    for (const std::string &text : texts) {
        lines += InfoLine(text + "\n");
    }
    return lines;
}

TEST_F(UenvToolTest, PrintsABlockMadeByMkenvimage) {
    const std::string input = Bench().WorkDirectory() + "/vars.txt";
    const std::string image = Bench().WorkDirectory() + "/env.bin";
    std::ofstream(input) << "ethaddr=00:11:22:33:44:55\nbootdelay=3\nbootcmd=run x\n";
    ASSERT_EQ(system(("mkenvimage -s 0x40000 -o " + image + " " + input).c_str()), 0) << "u-boot-tools missing?";
    std::ifstream file(image, std::ios::binary);
    ASSERT_EQ(tarn::bench::WriteFlash(Flash(), 0x80000, std::vector<uint8_t>(std::istreambuf_iterator<char>(file), {})),
              0);

    ToolRun run = Run("priuenv");
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_EQ(WithoutLocations(run.out), InfoLines({"ethaddr=00:11:22:33:44:55", "bootdelay=3", "bootcmd=run x"}));
    run = Run("priuenv", {"bootcmd"});
    EXPECT_EQ(WithoutLocations(run.out), InfoLine("bootcmd=run x\n"));
    run = Run("priuenv", {"boot"});
    EXPECT_EQ(run.exitStatus, 255);
    EXPECT_EQ(WithoutLocations(run.out), WarnLine("\"boot\" not defined\n"));
    run = Run("priuenv", {"a", "b"});
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_EQ(run.out, "usage: priuenv [name] \neg: priuenv, print all environment value\n"
                       "    priuenv name, print special name environment value\n");
}

TEST_F(UenvToolTest, SetBlockIsReadByFwPrintenvAndFwSetenvIsReadBack) {
    Bench().TakeFlashJournal();
    ToolRun run = Run("setuenv", {"bootcmd", "nand read 0x82000000"});
    EXPECT_EQ(run.exitStatus, 0) << run.out;
    EXPECT_EQ(run.out, "");
    // One read, one erase of the block's two erase blocks after asking for bad ones, one write, one read back.
    const std::string journal = Bench().TakeFlashJournal();
    EXPECT_EQ(JournalLines(journal, "MEMGETBADBLOCK").size(), 4u) << journal;
    EXPECT_EQ(JournalLines(journal, "MEMERASE"),
              (std::vector<std::string>{"MEMERASE mtd0 0x80000 0x20000 = 0", "MEMERASE mtd0 0xa0000 0x20000 = 0"}));
    EXPECT_EQ(JournalLines(journal, "write").size(), 128u);
    EXPECT_EQ(JournalLines(journal, "read").size(), 2u);
    EXPECT_EQ(Environment(),
              (std::vector<std::string>{"bootargs=mem=512M ubi.mtd=2", "bootpart=0", "bootcmd=nand read 0x82000000"}));

    ASSERT_EQ(RunHostTool("fw_printenv"), 0) << HostOutput();
    // fw_printenv lists by name.
    EXPECT_EQ(HostOutput(), "bootargs=mem=512M ubi.mtd=2\nbootcmd=nand read 0x82000000\nbootpart=0\n");
    ASSERT_EQ(RunHostTool("fw_setenv bootpart 1"), 0) << HostOutput();
    run = Run("priuenv", {"bootpart"});
    EXPECT_EQ(WithoutLocations(run.out), InfoLine("bootpart=1\n"));

    // Deleting what is not there writes nothing, and a third argument only shows the usage.
    Bench().TakeFlashJournal();
    EXPECT_EQ(Run("setuenv", {"nothere"}).exitStatus, 0);
    run = Run("setuenv", {"a", "b", "c"});
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_EQ(run.out, "usage: setuenv [name] [val]\neg: setuenv name, delete environment value\n"
                       "    setuenv name val, add environment value\n");
    const std::string untouched = Bench().TakeFlashJournal();
    EXPECT_TRUE(JournalLines(untouched, "MEMERASE").empty() && JournalLines(untouched, "write").empty()) << untouched;
}

TEST_F(UenvToolTest, InvalidNamesAreRefusedBeforeFlashIsTouched) {
    Bench().TakeFlashJournal();
    ToolRun run = Run("setuenv", {"a=b", "c"});
    EXPECT_EQ(run.exitStatus, 255);
    EXPECT_EQ(WithoutLocations(run.out), ErrorLine("invalid name \"a=b\".\n"));
    run = Run("setuenv", {""});
    EXPECT_EQ(WithoutLocations(run.out), ErrorLine("invalid name \"\".\n"));
    EXPECT_EQ(Bench().TakeFlashJournal(), "");
}

TEST_F(UenvToolTest, BadSecondBlockErasesNothing) {
    UseBoard("hi3519", {5});
    Bench().TakeFlashJournal();
    const ToolRun run = Run("setuenv", {"bootpart", "1"});
    EXPECT_EQ(run.exitStatus, 255);
    EXPECT_EQ(WithoutLocations(run.out), WarnLine("bad block at 0xa0000.\n") + ErrorLine("erase fail.\n"));
    EXPECT_TRUE(JournalLines(Bench().TakeFlashJournal(), "MEMERASE").empty());
    EXPECT_EQ(Environment(), kBoardVariables);
}

TEST_F(UenvToolTest, FailedWriteAndFlippedBitsAreReported) {
    Flash().faults = {"fail write 3"};
    ToolRun run = Run("setuenv", {"x", "1"});
    EXPECT_EQ(run.exitStatus, 255);
    EXPECT_EQ(WithoutLocations(run.out), SyserrLine("write", "Input/output error") + ErrorLine("write flash fail.\n"));

    // A cell that reads wrong: the block no longer matches its CRC, so it is printed with a warning and
    // never rewritten.
    PutEnvironment(kBoardVariables);
    Flash().faults = {"flip 0 0x80010 0x01"};
    std::vector<uint8_t> block = tarn::bench::MakeEnvironment(kBoardVariables);
    block[0x10] ^= 0x01;
    char crcLine[64];
    snprintf(crcLine, sizeof crcLine, "uboot env CRC error: 0x%08x != 0x%08x\n", tarn::LoadLe32(block.data()),
             Crc_Crc32Ieee(block.data() + 4, block.size() - 4));
    run = Run("priuenv");
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_EQ(WithoutLocations(run.out),
              WarnLine(crcLine) + InfoLines({"bootargs=mem<512M ubi.mtd=2", "bootcmd=nand read", "bootpart=0"}));
    Bench().TakeFlashJournal();
    run = Run("setuenv", {"x", "1"});
    EXPECT_EQ(run.exitStatus, 255);
    EXPECT_EQ(WithoutLocations(run.out), ErrorLine(crcLine));
    EXPECT_TRUE(JournalLines(Bench().TakeFlashJournal(), "MEMERASE").empty());
}

TEST_F(UenvToolTest, ProtectedBootPartitionPrintsButIsNotChanged) {
    Flash().devices[0].writeProtected = true;
    ToolRun run = Run("priuenv", {"bootpart"});
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_EQ(WithoutLocations(run.out), InfoLine("bootpart=0\n"));
    run = Run("setuenv", {"bootpart", "1"});
    EXPECT_EQ(run.exitStatus, 255);
    EXPECT_EQ(WithoutLocations(run.out), SyserrLine("open", "Permission denied") + ErrorLine("erase fail.\n"));
    EXPECT_EQ(Environment(), kBoardVariables);
}

TEST_F(UenvToolTest, BlankFlashIsNeverSigned) {
    UseBoard("dm368", {}, "blank");
    const ToolRun print = Run("priuenv");
    EXPECT_EQ(print.exitStatus, 255);
    EXPECT_EQ(WithoutLocations(print.out), ErrorLine("environment not terminated\n"));
    const ToolRun set = Run("setuenv", {"a", "1"});
    EXPECT_EQ(set.exitStatus, 255);
    EXPECT_EQ(WithoutLocations(set.out), ErrorLine("environment not terminated\n"));
    EXPECT_EQ(EnvironmentBlock(), std::vector<uint8_t>(tarn::bench::kEnvironmentSize, 0xFF));
}

} // namespace
