// binmerge: joins the boot loader, kernel and file system images of a release into one merged image,
// "<head>_v<version>_<UTC date>.img" in the current directory. The file appears only once every component
// is in: it is built under a temporary name beside it and renamed, so a failed run leaves nothing and an
// older file of that name untouched, and a rerun on the same day replaces it.
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <getopt.h>
#include <unistd.h>

#include "tarn_commands.h"
#include "tarn_console.h"
#include "tarn_crc.h"
#include "tarn_firmware_file.h"
#include "tarn_merged_image.h"
#include "tarn_unique_fd.h"

namespace {

constexpr const char kOptions[] = "f:v:u:k:r:p:h";

constexpr const char *kUsage[] = {
    "usage: ",
    "| ",
    "-- -f, fixed head ",
    "-- -v, release version ",
    "-- -u, uboot bin file ",
    "-- -k, kernel bin file ",
    "-- -r, rootfs bin file ",
    "-- -p, appfs bin file ",
    "-- -h, this usage ",
    "eg: binmerge -f orvox -v [ver] -u [file] -k [file] -r [file] -p [file] ",
    "    binmerge -h ",
};

// The options of one run; the inputs by component type.
struct Request {
    const char *fixedHead = nullptr;
    const char *version = nullptr;
    const char *inputs[kMergedComponentCount] = {};
};

void PrintUsage() {
    for (const char *line : kUsage) {
        puts(line);
    }
}

// Writes all of count bytes with one call, as the format's lines expect.
int WriteBlock(int fd, const void *pData, uint32_t count) {
    const ssize_t written = write(fd, pData, count);
    if (written < 0) {
        TARN_SYSERR("write");
        return -1;
    }
    if (static_cast<uint32_t>(written) != count) {
        TARN_ERR("need write %d byte except %d byte.\n", static_cast<int>(count), static_cast<int>(written));
        return -1;
    }
    return 0;
}

// Appends one component, head and bytes, to the output.
int DoBinmerge(int type, int output, const char *pInput) {
    if (Merged_TypeName(type) == nullptr) {
        TARN_ERR("invalid type: %d.\n", type);
        return -1;
    }
    uint32_t size = 0;
    if (Firmware_GetSize(pInput, &size) != 0) {
        // stat and open refuse a path for the same reasons; only a file too large for the head is stat's own.
        TARN_SYSERR(errno == EFBIG ? "stat" : "open");
        return -1;
    }
    FirmwareImage image;
    const FirmwareLoad load = Firmware_Load(pInput, size, 0, 0x00, &image);
    if (load.status == FirmwareStatus::NoMemory) {
        TARN_ERR("malloc.\n");
        return -1;
    }
    if (load.status != FirmwareStatus::Ok) {
        FIRMWARE_REPORT(load, size);
        return -1;
    }
    uint8_t head[kMergedHeadSize];
    Merged_PackHead(type, image.size, Crc_Crc32Raw(image.bytes.get(), image.size), head);
    return WriteBlock(output, head, sizeof head) != 0 || WriteBlock(output, image.bytes.get(), image.size) != 0 ? -1
                                                                                                                : 0;
}

int Binmerge(const Request &request) {
    if (request.fixedHead == nullptr) {
        TARN_ERR("need to assign fixed head.\n");
        PrintUsage();
        return -1;
    }
    if (request.version == nullptr) {
        TARN_ERR("need to assign release version.\n");
        PrintUsage();
        return -1;
    }
    const time_t now = time(nullptr);
    struct tm date {};
    gmtime_r(&now, &date);
    char output[512];
    snprintf(output, sizeof output, "%s_v%s_%04d%02d%02d.img", request.fixedHead, request.version, date.tm_year + 1900,
             date.tm_mon + 1, date.tm_mday);

    bool any = false;
    for (const char *input : request.inputs) {
        any = any || input != nullptr;
    }
    if (any) {
        char building[sizeof output + 32];
        snprintf(building, sizeof building, "%s.%d.tmp", output, static_cast<int>(getpid()));
        UniqueFd file(open(building, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
        if (!file.IsOpen()) {
            TARN_SYSERR("open");
            return -1;
        }
        for (int type = 0; type < kMergedComponentCount; ++type) {
            if (request.inputs[type] != nullptr && DoBinmerge(type, file.Get(), request.inputs[type]) != 0) {
                TARN_ERR("merge %s fail.\n", Merged_TypeName(type));
                unlink(building);
                return -1;
            }
        }
        if (close(file.Release()) != 0 || rename(building, output) != 0) {
            TARN_SYSERR("rename");
            unlink(building);
            return -1;
        }
    }
    TARN_INFO("generate merge file: %s.\n", output);
    return 0;
}

} // namespace

int Main_Binmerge(int argc, char *argv[]) {
    if (argc < 2) {
        PrintUsage();
        return 0;
    }
    Request request;
    optind = 1;
    for (int option; (option = getopt(argc, argv, kOptions)) != -1;) {
        switch (option) {
            case 'f':
                request.fixedHead = optarg;
                break;
            case 'v':
                request.version = optarg;
                break;
            case 'u':
                request.inputs[kMergedUboot] = optarg;
                break;
            case 'k':
                request.inputs[kMergedKernel] = optarg;
                break;
            case 'r':
                request.inputs[kMergedRootfs] = optarg;
                break;
            case 'p':
                request.inputs[kMergedAppfs] = optarg;
                break;
            case 'h':
                PrintUsage();
                return 0;
            default:
                break;
        }
    }
    if (Binmerge(request) != 0) {
        TARN_ERR("bin merge fail.\n");
        return -1;
    }
    return 0;
}
