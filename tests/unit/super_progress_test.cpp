// A second-generation upgrade's progress, read from another thread while the upgrade runs, as a caller's
// display does: whole percent after each chunk, never ahead of what the device has taken.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

#include "console_capture.h"
#include "tarn_bench_namespace.h"
#include "tarn_bench_sim_fmu_super.h"
#include "tarn_upgrade_nimbo_super_bms.h"

namespace {

TEST(SuperProgressInProcess, BatteryImageOf481BytesReads49Then99Then100) {
    std::unique_ptr<tarn::bench::SimPort> port = tarn::bench::SimPort::Create();
    ASSERT_TRUE(port);
    ASSERT_EQ(0, tarn::bench::AttachSerialDevice(0, *port));
    tarn::bench::FmuSuperSimulator sim(*port);
    // Each answer comes 20 ms late, so that every chunk's value stands long enough to be read.
    sim.SetReplyDelay(std::chrono::milliseconds(20));
    ASSERT_EQ(0, sim.Start());
    std::vector<uint8_t> image(481);
    for (size_t index = 0; index < image.size(); ++index) {
        image[index] = static_cast<uint8_t>(index * 7 + 3);
    }
    FILE *file = fopen("/tmp/bms.bin", "wb");
    ASSERT_NE(nullptr, file);
    ASSERT_EQ(image.size(), fwrite(image.data(), 1, image.size(), file));
    fclose(file);

    StdoutCapture capture;
    std::atomic<bool> done{false};
    int result = -1;
    std::thread upgrade([&] {
        result = bms_upgrade("/tmp/bms.bin");
        done = true;
    });
    std::vector<uint32_t> seen;
    for (bool last = false; !last;) {
        last = done.load();
        uint32_t progress = 0;
        EXPECT_EQ(0, bms_getProgress(&progress));
        if (seen.empty() || seen.back() != progress) {
            seen.push_back(progress);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    upgrade.join();
    const std::string out = capture.Finish();

    EXPECT_EQ(0, result) << out;
    EXPECT_EQ(image, sim.Programmed(3));
    EXPECT_EQ((std::vector<uint32_t>{0, 49, 99, 100}), seen) << out;
}

} // namespace
