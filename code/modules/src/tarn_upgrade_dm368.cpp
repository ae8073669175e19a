// upgrade_dm368_kernel and upgrade_dm368_fs: one image into the DM368 board's kernel or root file system
// partition, verified page by page, tried once more on a failure. The board has one copy of each, so the
// signals that would stop a run are held off while it writes.
#include <cstring>

#include "tarn_commands.h"
#include "tarn_console.h"
#include "tarn_page_writer.h"

namespace {

constexpr PartRow kDm368Parts[] = {
    {"bootloader", 0, 0x0, 0x300000, 0x300000, 0},     {"params", 1, 0x300000, 0x500000, 0x200000, 1},
    {"kernel", 2, 0x500000, 0xA00000, 0x500000, 2},    {"filesystem1", 3, 0xA00000, 0x3A00000, 0x3000000, 3},
    {"data1", 4, 0x3A00000, 0x10000000, 0xC600000, 4},
};
constexpr const PartRow &kKernelRow = kDm368Parts[2];
constexpr const PartRow &kFilesystemRow = kDm368Parts[3];

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
    if (PageWriter_WriteFile(argv[1], *row, PageWriteOptions{}) != 0) {
        TARN_WARN("write partition error and do it again.\n");
        if (PageWriter_WriteFile(argv[1], *row, PageWriteOptions{}) != 0) {
            TARN_ERR("write partition faile.\n");
            return -1;
        }
    }
    return 0;
}
