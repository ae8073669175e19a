// The fake MTD driver checked with an independent MTD client (mtd-utils' mtd_debug), run in the sandbox.
#include <fstream>
#include <sstream>

#include "flash_fixture.h"

namespace {

using namespace bench_test;

constexpr const char kMtdDebug[] = "/usr/sbin/mtd_debug";

class FakeMtdTest : public FlashTest {
protected:
    void SetUp() override {
        FlashTest::SetUp();
        if (!IsSkipped()) {
            ASSERT_EQ(access(kMtdDebug, X_OK), 0) << "mtd-utils is missing (scripts/install-deps.sh)";
        }
    }
    ToolRun MtdDebug(const std::vector<std::string> &arguments) { return Run(kMtdDebug, arguments); }
};

TEST_F(FakeMtdTest, InfoIsALargePageNand) {
    const ToolRun run = MtdDebug({"info", "/dev/mtd2"});
    EXPECT_EQ(run.exitStatus, 0) << run.err;
    EXPECT_NE(run.out.find("mtd.type = MTD_NANDFLASH\nmtd.flags = MTD_CAP_NANDFLASH\nmtd.size = 52428800 (50M)\n"
                           "mtd.erasesize = 131072 (128K)\nmtd.writesize = 2048 (2K)\n"),
              std::string::npos)
        << run.out;
    EXPECT_EQ(JournalLines(Bench().TakeFlashJournal(), "MEMGETINFO"), std::vector<std::string>{"MEMGETINFO mtd2 = 0"});
}

TEST_F(FakeMtdTest, WrittenPagesReadBackAndEraseStopsAtABadBlock) {
    UseBoard("hi3519", {8 + 3}); // block 3 of mtd1
    std::vector<uint8_t> data(5 * 2048);
    for (size_t index = 0; index < data.size(); ++index) {
        data[index] = static_cast<uint8_t>(index * 13 + 1);
    }
    PlaceFile("in.bin", data);
    ToolRun run = MtdDebug({"write", "/dev/mtd1", "0x40000", "0x2800", "in.bin"});
    ASSERT_EQ(run.exitStatus, 0) << run.err;
    run = MtdDebug({"read", "/dev/mtd1", "0x40000", "0x2800", "out.bin"});
    ASSERT_EQ(run.exitStatus, 0) << run.err;
    std::ifstream file(Bench().WorkDirectory() + "/out.bin", std::ios::binary);
    EXPECT_EQ(std::vector<uint8_t>(std::istreambuf_iterator<char>(file), {}), data);
    // Absolute offset of mtd1's block 2: the chip sees the same bytes.
    EXPECT_EQ(tarn::bench::ReadFlash(Flash(), 0x100000 + 0x40000, data.size()), data);

    Bench().TakeFlashJournal();
    run = MtdDebug({"erase", "/dev/mtd1", "0x0", "0x80000"});
    EXPECT_NE(run.exitStatus, 0);
    EXPECT_NE(run.err.find("MEMERASE: Input/output error"), std::string::npos) << run.err;
    EXPECT_EQ(JournalLines(Bench().TakeFlashJournal(), "MEMERASE"),
              std::vector<std::string>{"MEMERASE mtd1 0x0 0x80000 = -1 EIO"});
    // Blocks 0 to 2 were erased before the bad block stopped the erase.
    EXPECT_EQ(tarn::bench::ReadFlash(Flash(), 0x100000 + 0x40000, data.size()),
              std::vector<uint8_t>(data.size(), 0xFF));

    run = MtdDebug({"write", "/dev/mtd1", "0x40001", "0x800", "in.bin"});
    EXPECT_NE(run.exitStatus, 0);
    EXPECT_NE(run.err.find("Invalid argument"), std::string::npos) << run.err;
}

TEST_F(FakeMtdTest, ProtectedDeviceOpensForReadingOnly) {
    Flash().devices[0].writeProtected = true;
    ToolRun run = MtdDebug({"read", "/dev/mtd0", "0x0", "0x800", "out.bin"});
    EXPECT_EQ(run.exitStatus, 0) << run.err;
    run = MtdDebug({"erase", "/dev/mtd0", "0x0", "0x20000"});
    EXPECT_NE(run.exitStatus, 0);
    EXPECT_NE(run.err.find("open()"), std::string::npos) << run.err;
    const std::string journal = Bench().TakeFlashJournal();
    const std::vector<std::string> opens = JournalLines(journal, "open");
    ASSERT_EQ(opens.size(), 2u) << journal;
    EXPECT_EQ(opens[0].rfind("open mtd0 O_RDONLY = ", 0), 0u) << opens[0];
    EXPECT_EQ(opens[1], "open mtd0 O_RDWR = -1 EACCES");
}

} // namespace
