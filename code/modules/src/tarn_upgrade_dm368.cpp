// upgrade_dm368_kernel and upgrade_dm368_fs: one image into the DM368 board's kernel or root file system
// partition, verified page by page, tried once more on a failure. The board has one copy of each, so the
// signals that would stop a run are held off while it writes.
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include "tarn_commands.h"
#include "tarn_console.h"
#include "tarn_handle.h"
#include "tarn_page_writer.h"

namespace {

constexpr PartRow kDm368Parts[] = {
    {"bootloader", 0, 0x0, 0x300000, 0x300000, 0},     {"params", 1, 0x300000, 0x500000, 0x200000, 1},
    {"kernel", 2, 0x500000, 0xA00000, 0x500000, 2},    {"filesystem1", 3, 0xA00000, 0x3A00000, 0x3000000, 3},
    {"data1", 4, 0x3A00000, 0x10000000, 0xC600000, 4},
};
constexpr const PartRow &kKernelRow = kDm368Parts[2];
constexpr const PartRow &kFilesystemRow = kDm368Parts[3];

using FlashHandle = OwnedHandle<Flash, Flash_Delete>;

int WritePart(const char *pFile, const PartRow &row) {
    FlashHandle flash;
    if (Flash_Create(flash.Address()) != 0) {
        TARN_ERR("Flash_Create \n");
        return -1;
    }
    const UniqueFd file(open(pFile, O_RDONLY | O_CLOEXEC));
    if (!file.IsOpen()) {
        TARN_SYSERR("open");
        return -1;
    }
    const off_t size = lseek(file.Get(), 0, SEEK_END);
    if (size < 0) {
        TARN_SYSERR("lseek");
        return -1;
    }
    const PageImage image{pFile, file.Get(), 0, static_cast<uint64_t>(size)};
    if (PageWriter_Check(flash.Get(), row, image) != 0) {
        TARN_ERR("erase flash fail.\n");
        return -1;
    }
    TARN_INFO("upgrade file '%s' to '%s' partition, will write %d bytes to /dev/mtd%d\n", pFile, row.name,
              static_cast<int>(size), row.mtd);
    PageProgress progress;
    progress.total = image.size;
    if (PageWriter_Write(flash.Get(), row, image, PageWriteOptions{}, &progress) != 0) {
        return -1;
    }
    TARN_PRINT("\n");
    return 0;
}

} // namespace

int Main_UpgradeDm368(int argc, char *argv[]) {
    if (argc != 2) {
        puts("usage: ");
        puts("    upgrade_dm368 [file path] ");
        return -1;
    }
    const PartRow *row = nullptr;
    if (strstr(argv[0], "upgrade_dm368_kernel") != nullptr) {
        row = &kKernelRow;
    } else if (strstr(argv[0], "upgrade_dm368_fs") != nullptr) {
        row = &kFilesystemRow;
    } else {
        TARN_ERR("unsupport cmd='%s'.\n", argv[0]);
        return -1;
    }
    signal(SIGPIPE, SIG_IGN);
    const UniqueFd lock = PageWriter_Lock();
    if (!lock.IsOpen()) {
        return -1;
    }
    const SignalHold hold;
    if (WritePart(argv[1], *row) != 0) {
        TARN_WARN("write partition error and do it again.\n");
        if (WritePart(argv[1], *row) != 0) {
            TARN_ERR("write partition faile.\n");
            return -1;
        }
    }
    return 0;
}
