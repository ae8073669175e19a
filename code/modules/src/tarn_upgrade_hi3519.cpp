// upgrade_hi3519: new images into the set (kernel, root and application file systems) that is not running,
// verified page by page, then one environment write that makes the boot loader start that set. The
// running set is never written, and the switch comes last, so a failed or cut run still boots the old set.
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <getopt.h>
#include <sys/mman.h>
#include <unistd.h>

#include "tarn_commands.h"
#include "tarn_console.h"
#include "tarn_handle.h"
#include "tarn_merged_image.h"
#include "tarn_page_writer.h"
#include "tarn_system.h"
#include "tarn_uenv.h"

namespace {

constexpr PartRow kHi3519Parts[] = {
    {"uboot", 0, 0x0, 0x100000, 0x100000, 0},          {"kernel1", 1, 0x100000, 0xB00000, 0xA00000, 1},
    {"rootfs1", 2, 0xB00000, 0x3D00000, 0x3200000, 2}, {"appfs1", 3, 0x3D00000, 0x7900000, 0x3C00000, 3},
    {"kernel2", 4, 0x7900000, 0x8300000, 0xA00000, 4}, {"rootfs2", 5, 0x8300000, 0xB500000, 0x3200000, 5},
    {"appfs2", 6, 0xB500000, 0xF100000, 0x3C00000, 6}, {"cfgfs", 7, 0xF100000, 0x10000000, 0xF00000, 7},
};

constexpr size_t kBootargsSize = 512;
constexpr size_t kBootpartSize = 8;
constexpr const char *kSet1Bootcmd = "nand read 0x82000000 0x100000 0xa00000;bootm 0x82000000";
constexpr const char *kSet2Bootcmd = "nand read 0x82000000 0x7900000 0xa00000;bootm 0x82000000";

using FlashHandle = OwnedHandle<Flash, Flash_Delete>;
using UenvHandle = OwnedHandle<Uenv, Uenv_Delete>;

const PartRow *Row(uint32_t key) {
    for (const PartRow &row : kHi3519Parts) {
        if (row.key == key) {
            return &row;
        }
    }
    return nullptr;
}

// The set a command line or bootargs names: 1 for ubi.mtd=2, 2 for ubi.mtd=5, -1 for neither.
int NamedSet(const char *text) {
    if (strstr(text, "ubi.mtd=2") != nullptr) {
        return 1;
    }
    return strstr(text, "ubi.mtd=5") != nullptr ? 2 : -1;
}

int GetBootargs(Uenv *pUenv, char (&bootargs)[kBootargsSize]) {
    if (pUenv->Get("bootargs", bootargs, sizeof bootargs) != 0) {
        TARN_ERR("get environment bootargs fail.\n");
        return -1;
    }
    return 0;
}

// The set to write: the one not running. The kernel's command line says which runs; when it names neither,
// bootargs does. A bootargs naming the other set means a switch is waiting for a reboot: writing that set
// again would leave the boot loader pointing at a set being rewritten, so it is refused.
int SelectTarget() {
    UenvHandle uenv;
    if (Uenv_Create(uenv.Address()) != 0) {
        TARN_ERR("uenv create fail.\n");
        return -1;
    }
    char bootargs[kBootargsSize];
    if (GetBootargs(uenv.Get(), bootargs) != 0) {
        return -1;
    }
    const int next = NamedSet(bootargs);
    CmdlineText cmdline;
    const int booted = System_ReadCmdline(cmdline) == 0 ? NamedSet(cmdline.data()) : -1;
    const int running = booted > 0 ? booted : next;
    if (running < 0) {
        TARN_ERR("select upgrade part fail.\n");
        return -1;
    }
    if (next > 0 && next != running) {
        TARN_ERR("set %d runs and set %d boots next: reboot before writing again.\n", running, next);
        TARN_ERR("select upgrade part fail.\n");
        return -1;
    }
    return running == 1 ? 2 : 1;
}

const PartRow *TargetRow(int target, int type) {
    return Row(static_cast<uint32_t>(type + (target == 2 ? 3 : 0)));
}

// The three variables a switch writes, worked out from the environment without writing anything.
struct SwitchValues {
    char bootargs[kBootargsSize];
    char bootpart[2];
    const char *bootcmd;
};

int PlanSwitch(Uenv *pUenv, SwitchValues *pValues) {
    if (GetBootargs(pUenv, pValues->bootargs) != 0) {
        return -1;
    }
    char *digit = strstr(pValues->bootargs, "ubi.mtd=2");
    const bool toSet2 = digit != nullptr;
    digit = toSet2 ? digit : strstr(pValues->bootargs, "ubi.mtd=5");
    if (digit == nullptr) {
        TARN_ERR("invalid bootargs=%s.\n", pValues->bootargs);
        return -1;
    }
    digit[strlen("ubi.mtd=")] = toSet2 ? '5' : '2';
    pValues->bootcmd = toSet2 ? kSet2Bootcmd : kSet1Bootcmd;
    strcpy(pValues->bootpart, toSet2 ? "1" : "0");
    char bootpart[kBootpartSize];
    const int got = pUenv->Get("bootpart", bootpart, sizeof bootpart);
    if (got == -2) {
        return -1;
    }
    if (got == 0) {
        char *end = nullptr;
        const long number = strtol(bootpart, &end, 10);
        if (end == bootpart || *end != '\0' || number != (toSet2 ? 0 : 1)) {
            TARN_ERR("invalid bootpart=%s.\n", bootpart);
            return -1;
        }
    }
    return 0;
}

// One environment write: the block the three variables set one after another would leave.
int Switch() {
    UenvHandle uenv;
    if (Uenv_Create(uenv.Address()) != 0) {
        TARN_ERR("uenv create fail.\n");
        return -1;
    }
    SwitchValues values{};
    if (PlanSwitch(uenv.Get(), &values) != 0) {
        return -1;
    }
    const UenvChange changes[] = {
        {"bootpart", values.bootpart}, {"bootargs", values.bootargs}, {"bootcmd", values.bootcmd}};
    const SignalHold hold;
    if (uenv->Batch(changes, 3) != 0) {
        TARN_ERR("set environment bootargs fail.\n");
        return -1;
    }
    return 0;
}

// How a row is written: the UBI file systems' empty pages are not programmed, and the boot loader's row
// leaves the environment inside it alone.
PageWriteOptions RowOptions(const PartRow &row) {
    PageWriteOptions options;
    options.skipErased = row.key != 0 && row.key % 3 != 1;
    options.keepStart = row.key == 0 ? kUenvOffset : 0;
    options.keepSize = row.key == 0 ? kUenvSize : 0;
    return options;
}

// A separate image file into its row; the boot loader's has one copy, so signals wait while it is written.
int WriteFile(const char *pFile, const PartRow &row) {
    const PageWriteOptions options = RowOptions(row);
    if (row.key == 0) {
        const SignalHold hold;
        return PageWriter_WriteFile(pFile, row, options);
    }
    return PageWriter_WriteFile(pFile, row, options);
}

int UpgradeUboot(const char *pFile) {
    if (WriteFile(pFile, *Row(0)) != 0) {
        TARN_ERR("write flash fail.\n");
        return -1;
    }
    return 0;
}

int UpgradeSetPart(const char *pFile, int type) {
    const int target = SelectTarget();
    if (target < 0) {
        return -1;
    }
    if (WriteFile(pFile, *TargetRow(target, type)) != 0) {
        TARN_ERR("write flash fail.\n");
        return -1;
    }
    return 0;
}

// The merged image, mapped for the checks before anything is erased.
class MappedFile {
public:
    MappedFile(int fd, size_t size) : size_(size) {
        if (size > 0) {
            void *bytes = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
            bytes_ = bytes != MAP_FAILED ? static_cast<const uint8_t *>(bytes) : nullptr;
        }
    }
    ~MappedFile() {
        if (bytes_ != nullptr) {
            munmap(const_cast<uint8_t *>(bytes_), size_);
        }
    }
    MappedFile(const MappedFile &) = delete;
    MappedFile &operator=(const MappedFile &) = delete;
    const uint8_t *Bytes() const { return bytes_; }

private:
    const uint8_t *bytes_ = nullptr;
    size_t size_;
};

// A walk's refusal in the tool's words.
void ReportWalk(const MergedWalk &walk, size_t imageSize) {
    switch (walk.status) {
        case MergedStatus::ShortHead:
            TARN_ERR("need to read %d byte except %d byte.\n", static_cast<int>(kMergedHeadSize),
                     static_cast<int>(imageSize - walk.offset));
            break;
        case MergedStatus::BadName:
        case MergedStatus::TooMany:
            TARN_ERR("invalid head name: %s.\n", walk.head.name);
            break;
        case MergedStatus::ZeroSize:
        case MergedStatus::PastEnd:
            TARN_ERR("%s size=%u at 0x%zx is past the image's end (%zu bytes).\n", walk.head.name, walk.head.size,
                     walk.offset, imageSize);
            break;
        case MergedStatus::CrcMismatch:
            TARN_ERR("%s CRC error: 0x%08x != 0x%08x\n", walk.head.name, walk.head.crc, walk.computedCrc);
            break;
        case MergedStatus::Ok:
            break;
    }
}

struct Plan {
    MergedComponent components[kMergedComponentCount];
    const PartRow *rows[kMergedComponentCount];
    int count;
    bool writesSet;
    uint64_t bytes;
};

// Everything about the image and the board that can be refused, refused before the first erase.
int PlanAll(Flash *pFlash, int fd, size_t size, Plan *pPlan) {
    const MappedFile mapped(fd, size);
    if (size > 0 && mapped.Bytes() == nullptr) {
        TARN_SYSERR("mmap");
        return -1;
    }
    const MergedWalk walk = Merged_Walk(mapped.Bytes(), size, pPlan->components, kMergedComponentCount);
    if (walk.status != MergedStatus::Ok) {
        ReportWalk(walk, size);
        return -1;
    }
    pPlan->count = walk.count;
    pPlan->writesSet = false;
    pPlan->bytes = 0;
    bool seen[kMergedComponentCount] = {};
    for (int index = 0; index < walk.count; ++index) {
        const MergedHead &head = pPlan->components[index].head;
        if (seen[head.type]) {
            TARN_ERR("%s appears twice in the image.\n", head.name);
            TARN_ERR("invalid head name: %s.\n", head.name);
            return -1;
        }
        seen[head.type] = true;
        pPlan->writesSet = pPlan->writesSet || head.type != kMergedUboot;
        pPlan->bytes += head.size;
    }
    if (walk.count == 0) {
        TARN_ERR("merged image holds no component.\n");
        return -1;
    }
    int target = 0;
    if (pPlan->writesSet) {
        target = SelectTarget();
        if (target < 0) {
            return -1;
        }
        UenvHandle uenv;
        SwitchValues values{};
        if (Uenv_Create(uenv.Address()) != 0 || PlanSwitch(uenv.Get(), &values) != 0) {
            TARN_ERR("switch boot partition fai.\n");
            return -1;
        }
    }
    for (int index = 0; index < walk.count; ++index) {
        const MergedComponent &component = pPlan->components[index];
        pPlan->rows[index] = component.head.type == kMergedUboot ? Row(0) : TargetRow(target, component.head.type);
        const PageImage image{component.head.name, fd, component.offset, component.head.size};
        if (PageWriter_Check(pFlash, *pPlan->rows[index], image) != 0) {
            TARN_ERR("erase flash fail.\n");
            return -1;
        }
    }
    return 0;
}

int UpgradeAll(const char *pFile) {
    const UniqueFd file(open(pFile, O_RDWR | O_CLOEXEC));
    if (!file.IsOpen()) {
        TARN_ERR("open");
        return -1;
    }
    const off_t size = lseek(file.Get(), 0, SEEK_END);
    if (size < 0) {
        TARN_SYSERR("lseek");
        return -1;
    }
    FlashHandle flash;
    if (Flash_Create(flash.Address()) != 0) {
        TARN_ERR("Flash_Create \n");
        return -1;
    }
    Plan plan{};
    if (PlanAll(flash.Get(), file.Get(), static_cast<size_t>(size), &plan) != 0) {
        return -1;
    }
    PageProgress progress;
    progress.total = plan.bytes;
    for (int index = 0; index < plan.count; ++index) {
        const MergedHead &head = plan.components[index].head;
        const PartRow &row = *plan.rows[index];
        TARN_INFO("begin to upgrade %s, size=%d.\n", head.name, static_cast<int>(head.size));
        const PageImage image{head.name, file.Get(), plan.components[index].offset, head.size};
        uint32_t crc = 0;
        PageWriteOptions options = RowOptions(row);
        options.pCrc = &crc;
        int written = 0;
        if (row.key == 0) {
            const SignalHold hold;
            written = PageWriter_Write(flash.Get(), row, image, options, &progress);
        } else {
            written = PageWriter_Write(flash.Get(), row, image, options, &progress);
        }
        if (written != 0) {
            return -1;
        }
        // Read again while writing: the file may have changed since the check.
        if (crc != head.crc) {
            TARN_ERR("%s CRC error: 0x%08x != 0x%08x\n", head.name, head.crc, crc);
            return -1;
        }
    }
    TARN_PRINT("\n");
    if (plan.writesSet && Switch() != 0) {
        TARN_ERR("switch boot partition fai.\n");
        return -1;
    }
    TARN_INFO("upgrade success, please reboot system!\n");
    return 0;
}

constexpr const char *kUsage[] = {
    "usage: ",
    "| ",
    "-- -a, upgrade all ",
    "-- -u, upgrade uboot ",
    "-- -k, upgrade kernel ",
    "-- -r, upgrade rootfs ",
    "-- -p, upgrade appfs ",
    "-- -s, switch partition ",
    "-- -h, this usage ",
    "eg: upgrade_hi3519 -a [file] ",
    "    upgrade_hi3519 -u [file] ",
    "    upgrade_hi3519 -k [file] -r [file] -p [file] -s ",
    "    upgrade_hi3519 -h ",
};

int PrintUsage() {
    for (const char *line : kUsage) {
        puts(line);
    }
    return 0;
}

} // namespace

int Main_UpgradeHi3519(int argc, char *argv[]) {
    if (argc < 2) {
        return PrintUsage();
    }
    signal(SIGPIPE, SIG_IGN);
    UniqueFd lock;
    optind = 1;
    for (int option; (option = getopt(argc, argv, "a:u:k:r:p:sh")) != -1;) {
        if (option == 'h') {
            PrintUsage();
            continue;
        }
        if (option == '?') {
            return -1;
        }
        if (!lock.IsOpen()) {
            lock = PageWriter_Lock();
            if (!lock.IsOpen()) {
                return -1;
            }
        }
        int result = 0;
        switch (option) {
            case 'a':
                result = UpgradeAll(optarg);
                break;
            case 'u':
                result = UpgradeUboot(optarg);
                break;
            case 'k':
                result = UpgradeSetPart(optarg, kMergedKernel);
                break;
            case 'r':
                result = UpgradeSetPart(optarg, kMergedRootfs);
                break;
            case 'p':
                result = UpgradeSetPart(optarg, kMergedAppfs);
                break;
            default: // 's'
                result = Switch();
                break;
        }
        if (result != 0) {
            return -1;
        }
    }
    return 0;
}
