// The page writer on a flash kept in memory: the failures the bench's driver cannot stage per request (a
// read-back request that fails, an erase that fails, an image file shorter than it was said to be), and
// the progress text, which is only formatted when it can have changed.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

#include "console_capture.h"
#include "tarn_page_writer.h"

namespace {

constexpr uint32_t kBlock = 128 * 1024;
constexpr PartRow kRow = {"testfs", 1, 0, 2 * kBlock, 2 * kBlock, 1};

// The chip behind the Flash table: its bytes, the programmed page offsets, and the faults to play.
struct MemoryChip {
    std::vector<uint8_t> bytes = std::vector<uint8_t>(kRow.size, 0x00);
    std::vector<uint32_t> programs;
    int erases = 0;
    int failEraseAt = 0; // the nth erase fails; 0: none
    bool failReads = false;
} chip;

int ChipRead(uint8_t *pBuffer, uint32_t offset, uint32_t size) {
    if (chip.failReads) {
        return -1;
    }
    memcpy(pBuffer, chip.bytes.data() + offset, size);
    return 0;
}

int ChipWrite(const uint8_t *pBuffer, uint32_t offset, uint32_t size) {
    EXPECT_LE(offset + size, kRow.end) << "a write past the row";
    chip.programs.push_back(offset);
    for (uint32_t index = 0; index < size; ++index) {
        chip.bytes[offset + index] &= pBuffer[index];
    }
    return 0;
}

int ChipErase(uint32_t offset, uint32_t size) {
    if (++chip.erases == chip.failEraseAt) {
        return -1;
    }
    memset(chip.bytes.data() + offset, 0xFF, size);
    return 0;
}

Flash memoryFlash{ChipRead,
                  ChipWrite,
                  ChipErase,
                  [](uint32_t, uint32_t) { return 0; },
                  [](uint32_t, uint32_t, FlashPart *) { return 0; },
                  [](uint32_t, uint32_t) { return kRow.mtd; }};

class PageWriterTest : public testing::Test {
protected:
    void SetUp() override { chip = MemoryChip(); }
    void TearDown() override {
        if (fd_ >= 0) {
            close(fd_);
            unlink(path_);
        }
    }

    // An image file of size bytes, none of its pages all 0xFF.
    int ImageFile(size_t size) {
        fd_ = mkstemp(path_);
        std::vector<uint8_t> bytes(size);
        for (size_t index = 0; index < size; ++index) {
            bytes[index] = static_cast<uint8_t>(index * 7 + index / 2048);
        }
        EXPECT_EQ(write(fd_, bytes.data(), size), static_cast<ssize_t>(size));
        return fd_;
    }

    // Runs the writer on the memory chip: its result and what it printed.
    std::pair<int, std::string> Write(const PageImage &image) {
        PageProgress progress;
        progress.total = image.size;
        StdoutCapture capture;
        const int result = PageWriter_Write(&memoryFlash, kRow, image, PageWriteOptions{}, &progress);
        return {result, WithoutLocations(capture.Finish())};
    }

private:
    char path_[32] = "/tmp/page-writer-XXXXXX";
    int fd_ = -1;
};

TEST_F(PageWriterTest, EachFailureEndsTheWriteWithItsLineAndNothingAfterIt) {
    const int fd = ImageFile(kBlock + 3 * 2048);
    const PageImage image{"fs.img", fd, 0, kBlock + 3 * 2048};

    // The erase fails: nothing is programmed.
    chip.failEraseAt = 1;
    auto [result, out] = Write(image);
    EXPECT_EQ(result, -1);
    EXPECT_EQ(out, ErrorLine("erase flash fail.\n"));
    EXPECT_TRUE(chip.programs.empty());

    // The read-back request fails: the first block's pages were written, nothing after them, and no
    // progress is drawn for pages never compared.
    chip = MemoryChip();
    chip.failReads = true;
    std::tie(result, out) = Write(image);
    EXPECT_EQ(result, -1);
    EXPECT_EQ(out, ErrorLine("write flash fail.\n"));
    EXPECT_EQ(chip.programs.size(), kBlock / 2048);
    EXPECT_EQ(chip.programs.back(), kBlock - 2048);

    // The file holds less than the image said: refused before any of the missing block is written.
    chip = MemoryChip();
    const PageImage longer{"fs.img", fd, 0, 2 * kBlock};
    std::tie(result, out) = Write(longer);
    EXPECT_EQ(result, -1);
    EXPECT_NE(out.find(ErrorLine("Ret=6144, ReadSize=131072, Size=131072.\n")), std::string::npos) << out;
    EXPECT_EQ(chip.programs.size(), kBlock / 2048);
}

// The redraws, page by page, against formatting every step and printing each new text.
TEST(PageProgressTest, RedrawsAreExactlyTheDistinctTextsOfEveryStep) {
    for (const uint64_t total : {uint64_t{5000}, uint64_t{3 * 2048}, uint64_t{123457}, uint64_t{60 * 1024 * 1024 + 100},
                                 uint64_t{3 * 2048 * 1000 + 1}}) {
        std::string expected;
        char last[16] = "";
        for (uint64_t done = 0; done < total;) {
            done += std::min<uint64_t>(2048, total - done);
            char text[16];
            snprintf(text, sizeof text, "\r%4.1f%%", 100.0 * static_cast<double>(done) / total);
            if (strcmp(text, last) != 0) {
                expected += text;
                memcpy(last, text, sizeof text);
            }
        }
        PageProgress progress;
        progress.total = total;
        StdoutCapture capture;
        for (uint64_t done = 0; done < total;) {
            const uint64_t step = std::min<uint64_t>(2048, total - done);
            PageProgress_Advance(&progress, step);
            done += step;
        }
        const std::string shown = capture.Finish();
        EXPECT_EQ(shown, expected) << total;
        EXPECT_LE(progress.redraws, 1001) << total;
        EXPECT_EQ(shown.substr(shown.size() - 7), "\r100.0%") << total;
    }
}

} // namespace
