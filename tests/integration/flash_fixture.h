// Integration tests on the computer's NAND: a sandbox whose /dev/mtdN are image files played by the
// preloaded fake MTD driver. The driver serves dynamically linked host builds only, so these tests skip
// when the suite runs a target build under qemu-user.
//
// TARN_TEST_NANDSIM names the kernel's NAND simulator module (in a VM, scripts/vm-tests.sh): the same tests
// then run on the kernel's own MTD devices, the fake driver only adding faults and its journal, so every
// expectation checks the kernel's answers as well as the fake's.
#pragma once

#include <string>
#include <vector>

#include "bench_fixture.h"
#include "tarn_bench_flash.h"
#include "tarn_crc.h"
#include "tarn_merged_image.h"

namespace bench_test {

class FlashTest : public BenchTest {
protected:
    void SetUp() override {
        const char *runner = getenv("TARN_TEST_RUNNER");
        if (runner != nullptr && *runner != '\0') {
            GTEST_SKIP() << "the fake MTD driver cannot be preloaded into a static build under " << runner;
        }
        BenchTest::SetUp();
        UseBoard("hi3519");
    }

    // The board's devices over images in a folder of the working directory (kept when it exists), with these
    // bad blocks (numbered across the chip).
    void UseBoard(const std::string &board, const std::vector<uint32_t> &badBlocks = {},
                  const std::string &folder = "flash") {
        const char *nandsim = getenv("TARN_TEST_NANDSIM");
        if (nandsim != nullptr && *nandsim != '\0') {
            ASSERT_EQ(tarn::bench::PrepareKernelFlash(board, Bench().WorkDirectory() + "/" + folder, nandsim, badBlocks,
                                                      Flash()),
                      0);
        } else {
            ASSERT_EQ(tarn::bench::PrepareFlash(board, Bench().WorkDirectory() + "/" + folder, badBlocks, Flash()), 0);
        }
    }
    tarn::bench::FlashSettings &Flash() { return Bench().Settings().flash; }

    void PutEnvironment(const std::vector<std::string> &variables) {
        ASSERT_EQ(
            tarn::bench::WriteFlash(Flash(), tarn::bench::kEnvironmentOffset, tarn::bench::MakeEnvironment(variables)),
            0);
    }
    std::vector<uint8_t> EnvironmentBlock() {
        return tarn::bench::ReadFlash(Flash(), tarn::bench::kEnvironmentOffset, tarn::bench::kEnvironmentSize);
    }
    // The variables as the boot loader would find them; fails the test when the block is broken.
    std::vector<std::string> Environment() {
        bool valid = false;
        std::vector<std::string> variables = tarn::bench::ParseEnvironment(EnvironmentBlock(), &valid);
        EXPECT_TRUE(valid) << "environment block CRC or list broken";
        return variables;
    }
};

// Lines of a journal that start with the given request word ("MEMERASE", "write", ...).
inline std::vector<std::string> JournalLines(const std::string &journal, const std::string &request) {
    std::vector<std::string> lines;
    for (size_t begin = 0; begin < journal.size();) {
        size_t end = journal.find('\n', begin);
        end = end == std::string::npos ? journal.size() : end;
        const std::string line = journal.substr(begin, end - begin);
        if (line.compare(0, request.size() + 1, request + " ") == 0) {
            lines.push_back(line);
        }
        begin = end + 1;
    }
    return lines;
}

// Image bytes that differ from page to page and from one seed to another.
inline std::vector<uint8_t> Pattern(size_t size, uint8_t seed) {
    std::vector<uint8_t> bytes(size);
    for (size_t index = 0; index < size; ++index) {
        bytes[index] = static_cast<uint8_t>(index * 13 + seed + index / 509);
    }
    return bytes;
}

// A merged release image of the given components (type, bytes) in order.
inline std::vector<uint8_t> MergeImage(const std::vector<std::pair<int, std::vector<uint8_t>>> &components) {
    std::vector<uint8_t> image;
    for (const auto &[type, bytes] : components) {
        uint8_t head[kMergedHeadSize];
        Merged_PackHead(type, static_cast<uint32_t>(bytes.size()), Crc_Crc32Raw(bytes.data(), bytes.size()), head);
        image.insert(image.end(), head, head + sizeof head);
        image.insert(image.end(), bytes.begin(), bytes.end());
    }
    return image;
}

} // namespace bench_test
