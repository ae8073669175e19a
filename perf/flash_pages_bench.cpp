// Flash write plus read-back in 2048-byte pages, the way the partition upgraders program a partition. Needs
// the computer's flash: run it on the bench, e.g.
//   tarn-bench --flash hi3519 -- build/release/perf/tarn_perf --benchmark_filter=Flash
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "tarn_flash.h"

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

} // namespace
