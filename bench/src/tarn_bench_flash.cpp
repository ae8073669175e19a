#include "tarn_bench_flash.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <mtd/mtd-user.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "tarn_bench_nand.h"
#include "tarn_bench_report.h"
#include "tarn_byte_order.h"
#include "tarn_crc.h"

namespace tarn::bench {

namespace {

const std::vector<uint32_t> kHi3519Blocks = {8, 80, 400, 480, 80, 400, 480, 120};
const std::vector<uint32_t> kDm368Blocks = {24, 16, 40, 384, 1584};

// Walks the devices that hold [offset, offset + size): calls visit(device, offset in it, index in the range,
// count). Returns false when the range runs past the last device.
template <typename Visit> bool ForEachPiece(const FlashSettings &flash, uint64_t offset, size_t size, Visit visit) {
    uint64_t start = 0;
    size_t done = 0;
    for (const FlashDevice &device : flash.devices) {
        const uint64_t end = start + static_cast<uint64_t>(device.blocks) * kNandBlockSize;
        if (done < size && offset + done < end) {
            const uint64_t inside = offset + done - start;
            const size_t count = static_cast<size_t>(std::min<uint64_t>(size - done, end - (offset + done)));
            if (!visit(device, inside, done, count)) {
                return false;
            }
            done += count;
        }
        start = end;
    }
    return done == size;
}

} // namespace

const std::vector<uint32_t> *FlashBoardLayout(const std::string &board) {
    return board == "hi3519" ? &kHi3519Blocks : board == "dm368" ? &kDm368Blocks : nullptr;
}

namespace {

// The board's devices, their paths given by pathOf(n), with the bad blocks (numbered across the chip) that fall
// in each. Returns 0, or -1 after printing why.
template <typename PathOf>
int LayOut(const std::vector<uint32_t> &layout, const std::vector<uint32_t> &badBlocks, PathOf pathOf,
           FlashSettings &flash) {
    flash.devices.clear();
    uint32_t first = 0;
    for (size_t n = 0; n < layout.size(); ++n) {
        FlashDevice device;
        device.imagePath = pathOf(n);
        device.blocks = layout[n];
        for (uint32_t block : badBlocks) {
            if (block >= first && block - first < device.blocks) {
                device.badBlocks.push_back(block - first);
            }
        }
        first += device.blocks;
        flash.devices.push_back(device);
    }
    for (uint32_t block : badBlocks) {
        if (block >= first) {
            ReportError("bad block %u is past the flash's %u blocks", block, first);
            return -1;
        }
    }
    return 0;
}

std::string Joined(const std::vector<uint32_t> &numbers) {
    std::string text;
    for (uint32_t number : numbers) {
        text += (text.empty() ? "" : ",") + std::to_string(number);
    }
    return text;
}

// Programs whole pages at a page-aligned offset of an erased range, skipping erased ones.
bool ProgramPages(int fd, uint64_t offset, const uint8_t *bytes, size_t count) {
    const std::vector<uint8_t> erased(kNandPageSize, 0xFF);
    for (size_t page = 0; page + kNandPageSize <= count; page += kNandPageSize) {
        if (!std::equal(erased.begin(), erased.end(), bytes + page) &&
            pwrite(fd, bytes + page, kNandPageSize, static_cast<off_t>(offset + page)) != ssize_t(kNandPageSize)) {
            return false;
        }
    }
    return true;
}

// Programs bytes into the kernel's device at an offset: each block they touch is read, erased and written
// back with them, page by page, leaving erased pages unprogrammed.
bool WriteKernelDevice(const std::string &path, uint64_t offset, const uint8_t *bytes, size_t count) {
    const int fd = open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    std::vector<uint8_t> block(kNandBlockSize);
    bool written = true;
    for (uint64_t start = offset / kNandBlockSize * kNandBlockSize; written && start < offset + count;
         start += kNandBlockSize) {
        written = pread(fd, block.data(), block.size(), static_cast<off_t>(start)) == ssize_t(block.size());
        const uint64_t from = std::max(start, offset);
        const uint64_t to = std::min<uint64_t>(start + kNandBlockSize, offset + count);
        std::copy(bytes + (from - offset), bytes + (to - offset), block.begin() + static_cast<long>(from - start));
        // The kernel refuses to erase a bad block; the factory's programmer writes over it as it is.
        loff_t at = static_cast<loff_t>(start);
        const bool bad = ioctl(fd, MEMGETBADBLOCK, &at) == 1;
        erase_info_user erase{static_cast<uint32_t>(start), kNandBlockSize};
        written =
            written && (bad || ioctl(fd, MEMERASE, &erase) == 0) && ProgramPages(fd, start, block.data(), block.size());
    }
    close(fd);
    return written;
}

// Marks a block (numbered across the chip) bad on the kernel's device that holds it, keeping what it holds
// (the kernel erases a block before marking it; a block of an image goes bad with its bytes in place). 0, or
// -1 after printing why.
int MarkBadBlock(const FlashSettings &flash, uint32_t block) {
    for (const FlashDevice &device : flash.devices) {
        if (block < device.blocks) {
            const uint64_t offset = static_cast<uint64_t>(block) * kNandBlockSize;
            const std::vector<uint8_t> kept = ReadFlash({{device}, {}, true}, offset, kNandBlockSize);
            const int fd = open(device.imagePath.c_str(), O_RDWR | O_CLOEXEC);
            loff_t at = static_cast<loff_t>(offset);
            const bool marked =
                fd >= 0 && ioctl(fd, MEMSETBADBLOCK, &at) == 0 && ProgramPages(fd, offset, kept.data(), kept.size());
            if (!marked) {
                ReportSystemError(("mark a bad block on " + device.imagePath).c_str());
            }
            if (fd >= 0) {
                close(fd);
            }
            return marked ? 0 : -1;
        }
        block -= device.blocks;
    }
    return -1;
}

} // namespace

int PrepareFlash(const std::string &board, const std::string &directory, const std::vector<uint32_t> &badBlocks,
                 FlashSettings &flash) {
    const std::vector<uint32_t> *layout = FlashBoardLayout(board);
    if (layout == nullptr) {
        ReportError("no board '%s' (hi3519 or dm368)", board.c_str());
        return -1;
    }
    if (mkdir(directory.c_str(), 0755) != 0 && errno != EEXIST) {
        ReportSystemError(("create " + directory).c_str());
        return -1;
    }
    if (LayOut(
            *layout, badBlocks, [&](size_t n) { return directory + "/mtd" + std::to_string(n) + ".img"; }, flash) !=
        0) {
        return -1;
    }
    flash.kernel = false;
    for (const FlashDevice &device : flash.devices) {
        const int fd = open(device.imagePath.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
        if (fd < 0) {
            ReportSystemError(("create " + device.imagePath).c_str());
            return -1;
        }
        close(fd);
    }
    return 0;
}

int PrepareKernelFlash(const std::string &board, const std::string &directory, const std::string &module,
                       const std::vector<uint32_t> &badBlocks, FlashSettings &flash) {
    // What the loaded simulator holds: its contents stand for this board's flash in this directory, with
    // these bad blocks. Owned by the one thread that prepares flash (a test, or tarn-bench's main thread).
    static std::string loadedFor;
    static std::vector<uint32_t> loadedBad;
    const std::vector<uint32_t> *layout = FlashBoardLayout(board);
    if (layout == nullptr) {
        ReportError("no board '%s' (hi3519 or dm368)", board.c_str());
        return -1;
    }
    if (LayOut(
            *layout, badBlocks, [](size_t n) { return "/dev/mtd" + std::to_string(n); }, flash) != 0) {
        return -1;
    }
    flash.kernel = true;
    // The same flash again keeps its contents, as images in a kept directory do; further bad blocks are
    // marked on the chip. Anything else needs a fresh chip: the simulator keeps its contents only while loaded.
    const bool same =
        loadedFor == board + " " + directory && std::all_of(loadedBad.begin(), loadedBad.end(), [&](uint32_t block) {
            return std::find(badBlocks.begin(), badBlocks.end(), block) != badBlocks.end();
        });
    if (same) {
        for (uint32_t block : badBlocks) {
            if (std::find(loadedBad.begin(), loadedBad.end(), block) == loadedBad.end() &&
                MarkBadBlock(flash, block) != 0) {
                return -1;
            }
        }
        loadedBad = badBlocks;
        return 0;
    }
    loadedFor.clear();
    if (syscall(SYS_delete_module, "nandsim", O_NONBLOCK) != 0 && errno != ENOENT) {
        ReportSystemError("unload nandsim");
        return -1;
    }
    // The chip both boards carry: 256 MiB SLC, 2048-byte pages, 128 KiB erase blocks.
    std::string parameters = "id_bytes=0x20,0xda,0x00,0x15 parts=" + Joined(*layout);
    if (!badBlocks.empty()) {
        parameters += " badblocks=" + Joined(badBlocks);
    }
    const int fd = open(module.c_str(), O_RDONLY | O_CLOEXEC);
    const bool loaded = fd >= 0 && syscall(SYS_finit_module, fd, parameters.c_str(), 0) == 0;
    if (!loaded) {
        ReportSystemError(("load " + module + " " + parameters).c_str());
    }
    if (fd >= 0) {
        close(fd);
    }
    if (loaded) {
        loadedFor = board + " " + directory;
        loadedBad = badBlocks;
    }
    return loaded ? 0 : -1;
}

std::vector<uint8_t> ReadFlash(const FlashSettings &flash, uint64_t offset, size_t size) {
    std::vector<uint8_t> bytes(size, 0xFF);
    ForEachPiece(flash, offset, size, [&](const FlashDevice &device, uint64_t inside, size_t index, size_t count) {
        const int fd = open(device.imagePath.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd >= 0) {
            const ssize_t got = pread(fd, bytes.data() + index, count, static_cast<off_t>(inside));
            (void)got; // a short image leaves the erased bytes in place
            close(fd);
        }
        return true;
    });
    return bytes;
}

int WriteFlash(const FlashSettings &flash, uint64_t offset, const std::vector<uint8_t> &bytes) {
    const bool inside = ForEachPiece(
        flash, offset, bytes.size(), [&](const FlashDevice &device, uint64_t at, size_t index, size_t count) {
            if (flash.kernel) {
                const bool written = WriteKernelDevice(device.imagePath, at, bytes.data() + index, count);
                if (!written) {
                    ReportSystemError(("write " + device.imagePath).c_str());
                }
                return written;
            }
            const int fd = open(device.imagePath.c_str(), O_RDWR | O_CLOEXEC);
            struct stat status {};
            bool written = fd >= 0 && fstat(fd, &status) == 0;
            // Erased bytes up to the new ones: a hole would read as zeros.
            if (written && static_cast<uint64_t>(status.st_size) < at) {
                const std::vector<uint8_t> erased(at - static_cast<uint64_t>(status.st_size), 0xFF);
                written =
                    pwrite(fd, erased.data(), erased.size(), status.st_size) == static_cast<ssize_t>(erased.size());
            }
            written = written &&
                      pwrite(fd, bytes.data() + index, count, static_cast<off_t>(at)) == static_cast<ssize_t>(count);
            if (!written) {
                ReportSystemError(("write " + device.imagePath).c_str());
            }
            if (fd >= 0) {
                close(fd);
            }
            return written;
        });
    if (!inside) {
        ReportError("0x%llx bytes at 0x%llx do not fit the flash", static_cast<unsigned long long>(bytes.size()),
                    static_cast<unsigned long long>(offset));
        return -1;
    }
    return 0;
}

std::vector<uint8_t> MakeEnvironment(const std::vector<std::string> &variables) {
    std::vector<uint8_t> block(kEnvironmentSize, 0x00);
    size_t at = 4;
    for (const std::string &variable : variables) {
        if (at + variable.size() + 2 > block.size()) {
            break;
        }
        std::copy(variable.begin(), variable.end(), block.begin() + static_cast<long>(at));
        at += variable.size() + 1;
    }
    StoreLe32(block.data(), Crc_Crc32Ieee(block.data() + 4, block.size() - 4));
    return block;
}

std::vector<std::string> ParseEnvironment(const std::vector<uint8_t> &block, bool *valid) {
    std::vector<std::string> variables;
    *valid = block.size() > 4 && LoadLe32(block.data()) == Crc_Crc32Ieee(block.data() + 4, block.size() - 4);
    for (size_t at = 4; *valid && at < block.size() && block[at] != 0;) {
        size_t end = at;
        while (end < block.size() && block[end] != 0) {
            ++end;
        }
        if (end == block.size()) {
            *valid = false;
            break;
        }
        variables.emplace_back(reinterpret_cast<const char *>(block.data() + at), end - at);
        at = end + 1;
    }
    if (!*valid) {
        variables.clear();
    }
    return variables;
}

int ReadVariableLines(const std::string &path, std::vector<std::string> &variables) {
    FILE *file = fopen(path.c_str(), "re");
    if (file == nullptr) {
        ReportSystemError(("open " + path).c_str());
        return -1;
    }
    char line[4096];
    int result = 0;
    while (fgets(line, sizeof line, file) != nullptr) {
        std::string text(line);
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) {
            text.pop_back();
        }
        if (text.empty() || text[0] == '#') {
            continue;
        }
        if (text.find('=') == std::string::npos || text[0] == '=') {
            ReportError("%s: '%s' is not name=value", path.c_str(), text.c_str());
            result = -1;
            break;
        }
        variables.push_back(text);
    }
    fclose(file);
    return result;
}

} // namespace tarn::bench

namespace tarn::bench {

namespace {

// The Hi3519's two sets as its boot loader and kernel know them: kernel, root and application file systems.
constexpr uint64_t kSetOffsets[2][3] = {{0x100000, 0xB00000, 0x3D00000}, {0x7900000, 0x8300000, 0xB500000}};
constexpr const char *kSetKernelRead[2] = {"nand read 0x82000000 0x100000 0xa00000",
                                           "nand read 0x82000000 0x7900000 0xa00000"};

std::string Variable(const std::vector<std::string> &variables, const std::string &name) {
    for (const std::string &variable : variables) {
        if (variable.compare(0, name.size() + 1, name + "=") == 0) {
            return variable.substr(name.size() + 1);
        }
    }
    return {};
}

bool Holds(const FlashSettings &flash, uint64_t offset, const std::vector<uint8_t> &image) {
    if (image.empty()) {
        return true;
    }
    std::vector<uint8_t> padded = image;
    padded.resize((image.size() + kNandPageSize - 1) / kNandPageSize * kNandPageSize, 0xFF);
    return ReadFlash(flash, offset, padded.size()) == padded;
}

} // namespace

BootCheck CheckHi3519Boot(const FlashSettings &flash, const BootImages (&sets)[2]) {
    BootCheck check;
    const std::vector<std::string> variables =
        ParseEnvironment(ReadFlash(flash, kEnvironmentOffset, kEnvironmentSize), &check.environmentValid);
    const std::string bootargs = Variable(variables, "bootargs");
    check.set = bootargs.find("ubi.mtd=2") != std::string::npos   ? 1
                : bootargs.find("ubi.mtd=5") != std::string::npos ? 2
                                                                  : 0;
    if (check.set == 0) {
        return check;
    }
    const int index = check.set - 1;
    check.commandAgrees = Variable(variables, "bootcmd").find(kSetKernelRead[index]) == 0;
    const BootImages &images = sets[index];
    check.whole = Holds(flash, kSetOffsets[index][0], images.kernel) &&
                  Holds(flash, kSetOffsets[index][1], images.rootfs) &&
                  Holds(flash, kSetOffsets[index][2], images.appfs);
    return check;
}

std::string NextCommandLine(const FlashSettings &flash) {
    bool valid = false;
    const std::string bootargs =
        Variable(ParseEnvironment(ReadFlash(flash, kEnvironmentOffset, kEnvironmentSize), &valid), "bootargs");
    return valid && !bootargs.empty() ? bootargs + "\n" : std::string();
}

std::map<std::pair<std::string, uint64_t>, int> ProgramCounts(const std::string &journal) {
    std::map<std::pair<std::string, uint64_t>, int> counts;
    for (size_t begin = 0; begin < journal.size();) {
        size_t end = journal.find('\n', begin);
        end = end == std::string::npos ? journal.size() : end;
        char device[16] = {};
        unsigned long long position = 0;
        size_t size = 0;
        long long result = 0;
        if (sscanf(journal.c_str() + begin, "write %15s 0x%llx %zu = %lld", device, &position, &size, &result) == 4 &&
            result > 0) {
            for (uint64_t page = position; page < position + static_cast<uint64_t>(result); page += kNandPageSize) {
                ++counts[{device, page}];
            }
        }
        begin = end + 1;
    }
    return counts;
}

} // namespace tarn::bench
