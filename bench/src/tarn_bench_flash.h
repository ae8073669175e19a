// The computer's NAND flash on the bench: one image file per MTD device of a board's map, kept in a host
// directory so that a scenario can be rehearsed over several runs, played by the preloaded fake driver.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "tarn_bench_sandbox.h"

namespace tarn::bench {

// The boot loader keeps its environment here on both boards: one copy, a CRC-32 in front of the variables.
inline constexpr uint64_t kEnvironmentOffset = 0x80000;
inline constexpr uint32_t kEnvironmentSize = 0x40000;

// Erase blocks of mtd0, mtd1, ... on a board ("hi3519", "dm368"); nullptr for another name.
const std::vector<uint32_t> *FlashBoardLayout(const std::string &board);

// Fills flash with the board's devices over <directory>/mtdN.img (made empty where missing, kept where they
// exist) and bad blocks numbered across the whole chip, as the kernel's NAND simulator counts them. Returns
// 0, or -1 after printing why.
int PrepareFlash(const std::string &board, const std::string &directory, const std::vector<uint32_t> &badBlocks,
                 FlashSettings &flash);

// The same over the kernel's NAND simulator: /dev/mtdN are its partitions. The module (nandsim.ko) is loaded
// afresh with the board's partitions and bad blocks, unless it already holds this board's flash for the same
// directory (which keeps its contents, as a kept image would; further bad blocks are marked on the chip).
// Returns 0, or -1 after printing why.
int PrepareKernelFlash(const std::string &board, const std::string &directory, const std::string &module,
                       const std::vector<uint32_t> &badBlocks, FlashSettings &flash);

// Bytes of the flash at an absolute offset, read from the images (erased past an image's end).
std::vector<uint8_t> ReadFlash(const FlashSettings &flash, uint64_t offset, size_t size);
// Stores bytes at an absolute offset as they are (no erase needed: this is the factory's programmer; on the
// kernel's devices the blocks they touch are erased and programmed again).
// Returns 0, or -1 after printing why.
int WriteFlash(const FlashSettings &flash, uint64_t offset, const std::vector<uint8_t> &bytes);

// An environment block holding the variables ("name=value") in order.
std::vector<uint8_t> MakeEnvironment(const std::vector<std::string> &variables);
// The variables of a block in order, or an empty list with *valid false when its CRC or list is broken.
std::vector<std::string> ParseEnvironment(const std::vector<uint8_t> &block, bool *valid);

// Reads "name=value" lines (blank lines and lines starting with '#' skipped); -1 after printing why.
int ReadVariableLines(const std::string &path, std::vector<std::string> &variables);

} // namespace tarn::bench

namespace tarn::bench {

// What a Hi3519's boot loader would do with the flash as it is: which set its environment boots, and
// whether that set holds whole images.
struct BootImages {
    std::vector<uint8_t> kernel, rootfs, appfs; // an empty one is not checked
};

struct BootCheck {
    bool environmentValid = false; // CRC and list good
    int set = 0;                   // 1 for ubi.mtd=2, 2 for ubi.mtd=5 in bootargs; 0 for neither
    bool commandAgrees = false;    // bootcmd reads that set's kernel
    bool whole = false;            // the set holds its images (each padded with 0xFF to a whole page)

    bool Boots() const { return environmentValid && set != 0 && commandAgrees && whole; }
};

// sets[0] are the images set 1 should hold, sets[1] set 2's.
BootCheck CheckHi3519Boot(const FlashSettings &flash, const BootImages (&sets)[2]);

// The kernel command line the next boot gets: bootargs with a newline, or the empty text without one.
std::string NextCommandLine(const FlashSettings &flash);

// Programs per page ("mtdN", page offset in it) in a driver journal.
std::map<std::pair<std::string, uint64_t>, int> ProgramCounts(const std::string &journal);

} // namespace tarn::bench
