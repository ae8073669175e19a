// Flash programming on the computer's flash. Needs it: run on the bench, e.g.
//   tarn-bench --flash hi3519 -- build/release/perf/tarn_perf --benchmark_filter=Flash
// (perf/flash_write_throughput.sh does that and adds a whole upgrade_hi3519 run).
//
// BM_FlashWriteReadBackPages: write plus read-back in 2048-byte pages through the Flash module.
// BM_FlashAppfsPageWriter / BM_FlashAppfsPlainLoop: a 60 MiB appfs image into appfs2, by the page writer
// (erase, every page written, read back and compared) and by a plain loop with no read-back (the same erase,
// then one positioned write a page). Same device, same driver: their ratio is the cost of verifying.
#include <benchmark/benchmark.h>

#include <cstring>
#include <fcntl.h>
#include <mtd/mtd-user.h>
#include <sys/ioctl.h>
#include <unistd.h>
#include <vector>

#include "tarn_flash.h"
#include "tarn_page_writer.h"
#include "tarn_unique_fd.h"

namespace {

constexpr uint32_t kPage = 2048;
constexpr uint32_t kRange = 1024 * 1024; // kernel1's first MiB on a hi3519 map
constexpr uint32_t kOffset = 0x100000;

void BM_FlashWriteReadBackPages(benchmark::State &state) {
    Flash *flash = nullptr;
    Flash_Create(&flash);
    FlashPart part{};
    if (flash->FindPart(kOffset, kRange, &part) != 0) {
        state.SkipWithError("no flash here: run it on the bench with --flash hi3519");
        Flash_Delete(&flash);
        return;
    }
    std::vector<uint8_t> page(kPage);
    std::vector<uint8_t> readBack(kPage);
    for (auto _ : state) {
        state.PauseTiming();
        if (flash->Erase(kOffset, kRange) != 0) {
            state.SkipWithError("erase failed");
            break;
        }
        state.ResumeTiming();
        for (uint32_t at = 0; at < kRange; at += kPage) {
            memset(page.data(), static_cast<int>(at / kPage), kPage);
            if (flash->Write(page.data(), kOffset + at, kPage) != 0 ||
                flash->Read(readBack.data(), kOffset + at, kPage) != 0 || page != readBack) {
                state.SkipWithError("write or read-back failed");
                break;
            }
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kRange);
    Flash_Delete(&flash);
}
BENCHMARK(BM_FlashWriteReadBackPages)->Unit(benchmark::kMillisecond);

constexpr PartRow kAppfs2 = {"appfs2", 6, 0xB500000, 0xF100000, 0x3C00000, 6};
constexpr uint64_t kAppfsImage = 60 * 1024 * 1024;
constexpr const char *kAppfsFile = "appfs-bench.img";

// The image file in the working directory: pages that differ, none all 0xFF. Invalid when it cannot be made.
UniqueFd AppfsImage() {
    UniqueFd file(open(kAppfsFile, O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    std::vector<uint8_t> page(kPage);
    for (uint64_t at = 0; file.IsOpen() && at < kAppfsImage; at += kPage) {
        for (uint32_t index = 0; index < kPage; ++index) {
            page[index] = static_cast<uint8_t>(index * 13 + at / kPage);
        }
        if (pwrite(file.Get(), page.data(), kPage, static_cast<off_t>(at)) != kPage) {
            return UniqueFd();
        }
    }
    return file;
}

// Standard output goes nowhere while the page writer draws its progress.
class QuietStdout {
public:
    QuietStdout() : saved_(dup(STDOUT_FILENO)) {
        fflush(stdout);
        const int sink = open("/dev/null", O_WRONLY | O_CLOEXEC);
        dup2(sink, STDOUT_FILENO);
        close(sink);
    }
    ~QuietStdout() {
        fflush(stdout);
        dup2(saved_, STDOUT_FILENO);
        close(saved_);
    }
    QuietStdout(const QuietStdout &) = delete;
    QuietStdout &operator=(const QuietStdout &) = delete;

private:
    int saved_;
};

void BM_FlashAppfsPageWriter(benchmark::State &state) {
    Flash *flash = nullptr;
    Flash_Create(&flash);
    const UniqueFd file = AppfsImage();
    if (!file.IsOpen() || flash->ExactPart(kAppfs2.start, kAppfs2.size) != kAppfs2.mtd) {
        state.SkipWithError("no image file or no appfs2 here: run it on the bench with --flash hi3519");
        Flash_Delete(&flash);
        return;
    }
    const PageImage image{kAppfsFile, file.Get(), 0, kAppfsImage};
    PageWriteOptions options;
    options.skipErased = true;
    for (auto _ : state) {
        PageProgress progress;
        progress.total = kAppfsImage;
        const QuietStdout quiet;
        if (PageWriter_Write(flash, kAppfs2, image, options, &progress) != 0) {
            state.SkipWithError("page writer failed");
            break;
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kAppfsImage));
    Flash_Delete(&flash);
    unlink(kAppfsFile);
}
BENCHMARK(BM_FlashAppfsPageWriter)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_FlashAppfsPlainLoop(benchmark::State &state) {
    const UniqueFd file = AppfsImage();
    const UniqueFd device(open("/dev/mtd6", O_RDWR | O_CLOEXEC));
    if (!file.IsOpen() || !device.IsOpen()) {
        state.SkipWithError("no image file or no /dev/mtd6 here: run it on the bench with --flash hi3519");
        return;
    }
    std::vector<uint8_t> page(kPage);
    for (auto _ : state) {
        for (uint32_t block = 0; block < kAppfs2.size; block += 128 * 1024) {
            int64_t position = block;
            erase_info_user erase{block, 128 * 1024};
            if (ioctl(device.Get(), MEMGETBADBLOCK, &position) != 0 || ioctl(device.Get(), MEMERASE, &erase) != 0) {
                state.SkipWithError("erase failed");
                return;
            }
        }
        for (uint64_t at = 0; at < kAppfsImage; at += kPage) {
            if (pread(file.Get(), page.data(), kPage, static_cast<off_t>(at)) != kPage ||
                pwrite(device.Get(), page.data(), kPage, static_cast<off_t>(at)) != kPage) {
                state.SkipWithError("write failed");
                return;
            }
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kAppfsImage));
    unlink(kAppfsFile);
}
BENCHMARK(BM_FlashAppfsPlainLoop)->Unit(benchmark::kMillisecond)->Iterations(5);

} // namespace
