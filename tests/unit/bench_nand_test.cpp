// The fake NAND behind /dev/mtdN must behave as the kernel's MTD character driver over a NAND chip, since
// the same tools later run on the kernel's own NAND simulator.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "tarn_bench_nand.h"

namespace {

using tarn::bench::kNandBlockSize;
using tarn::bench::kNandPageSize;

class NandTest : public testing::Test {
protected:
    void SetUp() override {
        char path[] = "/tmp/nand-XXXXXX";
        chip_.imageFd = mkstemp(path);
        ASSERT_GE(chip_.imageFd, 0);
        unlink(path);
        chip_.blocks = 4;
    }
    void TearDown() override { close(chip_.imageFd); }

    std::vector<uint8_t> Read(uint64_t position, size_t count) {
        std::vector<uint8_t> bytes(count);
        const ssize_t got = tarn::bench::NandRead(io_, chip_, position, bytes.data(), count);
        bytes.resize(got < 0 ? 0 : static_cast<size_t>(got));
        return bytes;
    }
    ssize_t Program(uint64_t position, const std::vector<uint8_t> &bytes) {
        return tarn::bench::NandProgram(io_, chip_, position, bytes.data(), bytes.size());
    }
    off_t ImageSize() const {
        struct stat status {};
        fstat(chip_.imageFd, &status);
        return status.st_size;
    }

    const tarn::bench::NandIo io_{pread, pwrite};
    tarn::bench::NandChip chip_;
};

TEST_F(NandTest, BlankImageReadsErasedAndCostsNothing) {
    chip_.blocks = 2048; // 256 MiB
    EXPECT_EQ(Read(tarn::bench::NandSize(chip_) - kNandPageSize, kNandPageSize),
              std::vector<uint8_t>(kNandPageSize, 0xFF));
    EXPECT_EQ(tarn::bench::NandErase(io_, chip_, 0, tarn::bench::NandSize(chip_)), 0);
    EXPECT_EQ(ImageSize(), 0);
    // Reading at or across the end gives what is left, then nothing.
    EXPECT_EQ(Read(tarn::bench::NandSize(chip_) - 16, 64).size(), 16u);
    EXPECT_EQ(Read(tarn::bench::NandSize(chip_), 64).size(), 0u);
}

TEST_F(NandTest, ProgramsWholePagesAndOnlyClearsBits) {
    std::vector<uint8_t> first(kNandPageSize, 0xF0);
    std::vector<uint8_t> second(kNandPageSize, 0x3C);
    // A page after a gap: the skipped pages still read erased, not as the file's zero hole.
    EXPECT_EQ(Program(2 * kNandPageSize, first), static_cast<ssize_t>(kNandPageSize));
    EXPECT_EQ(Read(0, 2 * kNandPageSize), std::vector<uint8_t>(2 * kNandPageSize, 0xFF));
    EXPECT_EQ(Program(2 * kNandPageSize, second), static_cast<ssize_t>(kNandPageSize));
    EXPECT_EQ(Read(2 * kNandPageSize, kNandPageSize), std::vector<uint8_t>(kNandPageSize, 0x30));

    EXPECT_EQ(Program(kNandPageSize / 2, first), -EINVAL);
    EXPECT_EQ(Program(0, std::vector<uint8_t>(100, 0)), -EINVAL);
    EXPECT_EQ(Program(tarn::bench::NandSize(chip_), first), -ENOSPC);
    // A write running over the end is cut at the end.
    EXPECT_EQ(Program(tarn::bench::NandSize(chip_) - kNandPageSize, std::vector<uint8_t>(2 * kNandPageSize, 0)),
              static_cast<ssize_t>(kNandPageSize));
}

TEST_F(NandTest, EraseStopsAtABadBlockAfterErasingTheGoodOnesBeforeIt) {
    ASSERT_EQ(Program(0, std::vector<uint8_t>(4 * kNandBlockSize, 0x00)), static_cast<ssize_t>(4 * kNandBlockSize));
    tarn::bench::NandMarkBad(chip_, 2);
    EXPECT_EQ(tarn::bench::NandBlockIsBad(chip_, 2 * kNandBlockSize + 5), 1);
    EXPECT_EQ(tarn::bench::NandBlockIsBad(chip_, kNandBlockSize), 0);
    EXPECT_EQ(tarn::bench::NandBlockIsBad(chip_, 4 * kNandBlockSize), -EINVAL);

    EXPECT_EQ(tarn::bench::NandErase(io_, chip_, 0, 4 * kNandBlockSize), -EIO);
    EXPECT_EQ(Read(0, 2 * kNandBlockSize), std::vector<uint8_t>(2 * kNandBlockSize, 0xFF));
    EXPECT_EQ(Read(2 * kNandBlockSize, 2 * kNandBlockSize), std::vector<uint8_t>(2 * kNandBlockSize, 0x00));

    EXPECT_EQ(tarn::bench::NandErase(io_, chip_, kNandPageSize, kNandBlockSize), -EINVAL);
    EXPECT_EQ(tarn::bench::NandErase(io_, chip_, 3 * kNandBlockSize, 2 * kNandBlockSize), -EINVAL);
    EXPECT_EQ(tarn::bench::NandErase(io_, chip_, 0, 0), 0);
    chip_.writeProtected = true;
    EXPECT_EQ(tarn::bench::NandErase(io_, chip_, 0, kNandBlockSize), -EROFS);
}

TEST_F(NandTest, SeekStaysInsideTheDevice) {
    const int64_t size = static_cast<int64_t>(tarn::bench::NandSize(chip_));
    EXPECT_EQ(tarn::bench::NandSeek(chip_, 0, size, SEEK_SET), size);
    EXPECT_EQ(tarn::bench::NandSeek(chip_, 0, size + 1, SEEK_SET), -EINVAL);
    EXPECT_EQ(tarn::bench::NandSeek(chip_, 100, -101, SEEK_CUR), -EINVAL);
    EXPECT_EQ(tarn::bench::NandSeek(chip_, 100, -10, SEEK_END), size - 10);
}

TEST_F(NandTest, FlippedBitReadsWrongWithoutAnError) {
    chip_.flips[chip_.flipCount++] = {kNandPageSize + 3, 0x81};
    const std::vector<uint8_t> page = Read(kNandPageSize, kNandPageSize);
    ASSERT_EQ(page.size(), kNandPageSize);
    EXPECT_EQ(page[3], 0x7E);
    EXPECT_EQ(page[4], 0xFF);
}

} // namespace
