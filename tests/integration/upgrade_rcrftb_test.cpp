// The remote-control, radio and TB operations through tarn-ops, against the RC/RF targets on port 0.
#include "bench_fixture.h"
#include "console_lines.h"
#include "tarn_bench_sim_rcrf.h"

namespace {

using namespace bench_test;
using tarn::bench::RcrfSimulator;
using Bytes = std::vector<uint8_t>;

class RcrftbTest : public DeviceLineTest<RcrfSimulator> {
protected:
    void SetUp() override {
        BenchTest::SetUp();
        Attach(0, RcrfSimulator::Generation::Second, 1, 5);
    }
};

using RcrftbSlow = RcrftbTest;

TEST_F(RcrftbTest, A480ByteImageEndsWithAFullLastFrame) {
    const Bytes image = TestImage(480, 13, 1);
    PlaceFile("rc.bin", image);
    const ToolRun run = Run("tarn-ops", {"rc_upgrade", "rc.bin"}, 60s);

    EXPECT_EQ(0, run.exitStatus) << run.out;
    EXPECT_EQ(InfoLine("begin to upgrade file='rc.bin' size=480 to firmware.\n") +
                  InfoLine("step 1: jump to bootload.\n") + InfoLine("step 2: request upgrade.\n") +
                  InfoLine("step 3: set app info.\n") + InfoLine("step 4: erase flash.\n") +
                  InfoLine("step 5: program flash.\n") + "\r50.0%\r100.0%" + InfoLine("step 6: jump to app.\n"),
              WithoutLocations(run.out));
    const auto first = Sim().FramesOfKind(RcrfSimulator::Kind(1, 0x08));
    const auto last = Sim().FramesOfKind(RcrfSimulator::Kind(1, 0x09));
    ASSERT_EQ(1u, first.size());
    ASSERT_EQ(1u, last.size());
    EXPECT_EQ(240, first[0].bytes[4]);
    EXPECT_EQ(240, last[0].bytes[4]);
    EXPECT_EQ(static_cast<uint8_t>(first[0].bytes[3] + 1), last[0].bytes[3]);
    EXPECT_EQ(image, Sim().Programmed(1));
    EXPECT_TRUE(Sim().Running(1)) << "runs only an image that matches its announced size and CRC-8";
    EXPECT_TRUE(Sim().Complaints().empty()) << Sim().Complaints().front();
}

TEST_F(RcrftbTest, VersionsPrintTheirLineAndAPlainAckGivesZero) {
    Sim().SetVersion(1, {4, 3, 2, 1});
    const ToolRun rc = Run("tarn-ops", {"rc_getVer"});
    EXPECT_EQ(0, rc.exitStatus);
    EXPECT_EQ(InfoLine("RC version: V1.2.3.4\n") + "rc_getVer: 0x01020304\n", WithoutLocations(rc.out));

    // The language pack prints under the RC's name; a version whose last number is 18 is no acknowledgement.
    Sim().SetVersion(5, {0x12, 0, 0, 2});
    EXPECT_EQ(InfoLine("RC version: V2.0.0.18\n") + "rcLangLib_getVer: 0x02000012\n",
              WithoutLocations(Run("tarn-ops", {"rcLangLib_getVer"}).out));

    Sim().SetPlainAckToVersion(3, true);
    const ToolRun tb = Run("tarn-ops", {"tb_GetVer"});
    EXPECT_EQ(0, tb.exitStatus);
    EXPECT_EQ(WarnLine("can get version, and return default ver=0.\n") + "tb_GetVer: 0x00000000\n",
              WithoutLocations(tb.out));
    EXPECT_EQ(1u, Sim().FramesOfKind(RcrfSimulator::Kind(3, 0x01)).size());
}

TEST_F(RcrftbSlow, ASilentTargetEndsEachWaitWithin15Seconds) {
    Sim().SetSilent(true);
    const ToolRun run = Run("tarn-ops", {"rfrx_getVer"}, 60s);
    EXPECT_EQ(255, run.exitStatus);
    EXPECT_EQ(ErrorLine("ack timeout.\n") + WarnLine("send msg but no ack and try it again.\n") +
                  ErrorLine("ack timeout.\n") + ErrorLine("send msg but no ack.\n"),
              WithoutLocations(run.out));
    EXPECT_GE(run.elapsed, 20s);
    EXPECT_LE(run.elapsed, 32s + 10s);
    EXPECT_EQ(2u, Sim().FramesOfKind(RcrfSimulator::Kind(4, 0x01)).size());
}

} // namespace
