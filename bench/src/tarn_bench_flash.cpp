#include "tarn_bench_flash.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
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
    flash.devices.clear();
    uint32_t first = 0;
    for (size_t n = 0; n < layout->size(); ++n) {
        FlashDevice device;
        device.imagePath = directory + "/mtd" + std::to_string(n) + ".img";
        device.blocks = (*layout)[n];
        const int fd = open(device.imagePath.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
        if (fd < 0) {
            ReportSystemError(("create " + device.imagePath).c_str());
            return -1;
        }
        close(fd);
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
