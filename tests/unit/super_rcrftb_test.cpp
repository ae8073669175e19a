// The RC/RF/TB version queries in one process: each reads the reply to its own query only.
#include <gtest/gtest.h>

#include "console_capture.h"
#include "tarn_bench_namespace.h"
#include "tarn_bench_sim_rcrf.h"
#include "tarn_upgrade_nimbo_super_rcrftb.h"

namespace {

TEST(RcrftbInProcess, AnotherTargetsVersionNeverAnswersTheNextQuery) {
    std::unique_ptr<tarn::bench::SimPort> port = tarn::bench::SimPort::Create();
    ASSERT_TRUE(port);
    ASSERT_EQ(0, tarn::bench::AttachSerialDevice(0, *port));
    tarn::bench::RcrfSimulator sim(*port, tarn::bench::RcrfSimulator::Generation::Second, 1, 5);
    sim.SetVersion(1, {4, 3, 2, 1});
    sim.SetPlainAckToVersion(2, true);
    ASSERT_EQ(0, sim.Start());

    StdoutCapture capture;
    uint32_t rc = 0;
    uint32_t rftx = 0xFFFFFFFF;
    EXPECT_EQ(0, rc_getVer(&rc));
    EXPECT_EQ(0, rftx_getVer(&rftx));
    const std::string out = WithoutLocations(capture.Finish());
    EXPECT_EQ(0x01020304u, rc);
    EXPECT_EQ(0u, rftx) << "the RC's reply is no answer to the transmitter's query";
    EXPECT_EQ(InfoLine("RC version: V1.2.3.4\n") + WarnLine("can get version, and return default ver=0.\n"), out);
}

} // namespace
