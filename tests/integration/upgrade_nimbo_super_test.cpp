// The second-generation battery, IMU and optical-flow/sonar/ESC operations through tarn-ops, against the
// flight controller's pass-through devices.
#include "bench_fixture.h"
#include "console_lines.h"
#include "tarn_bench_sim_fmu_super.h"
#include "tarn_byte_order.h"
#include "tarn_crc.h"

namespace {

using namespace bench_test;
using tarn::bench::FmuSuperSimulator;
using Bytes = std::vector<uint8_t>;

constexpr auto kRunLimit = 90s;
constexpr uint8_t kBattery = 3;
constexpr uint8_t kImu = 1;
constexpr uint8_t kFlow = 2;

Bytes Image(size_t size) {
    return TestImage(size, 7, 3);
}

class SuperDeviceTest : public DeviceLineTest<FmuSuperSimulator> {
protected:
    void SetUp() override {
        BenchTest::SetUp();
        Attach(0);
    }

    // The frames a device received with this command, as carriers (code, device, length, frame).
    std::vector<Bytes> Frames(uint8_t deviceId, uint8_t command) const {
        std::vector<Bytes> frames;
        for (const tarn::bench::ReceivedFrame &frame : Sim().FramesOfKind(FmuSuperSimulator::Kind(deviceId, command))) {
            frames.push_back(frame.bytes);
        }
        return frames;
    }
    // The pass-through values sent, in order (a flag frame has command 0x11 and word 0x0F000011), once at least
    // expected of them have come: the tool may end while its last one is still on the line.
    Bytes FlagValues(uint8_t deviceId, size_t expected) const {
        Bytes values;
        test_support::WaitUntil([&] {
            values.clear();
            for (const Bytes &frame : Frames(deviceId, 0x11)) {
                if (tarn::LoadLe32(frame.data()) == 0x0F000011) {
                    values.push_back(frame[12]);
                }
            }
            return values.size() >= expected;
        });
        return values;
    }
};

using SuperDeviceSlow = SuperDeviceTest;

TEST_F(SuperDeviceTest, BatteryImageGoesIn240ByteChunksPastNacksForeignAndCorruptReplies) {
    // Each knob costs the tool one dropped message, never a failed try.
    Sim().SetNacks(1);
    Sim().Arm(tarn::bench::Fault::WrongDeviceId);
    Sim().Arm(tarn::bench::Fault::CorruptChecksum);
    PlaceFile("bms.bin", Image(481));
    const ToolRun run = Run("tarn-ops", {"bms_upgrade", "bms.bin"}, kRunLimit);

    EXPECT_EQ(0, run.exitStatus) << run.out;
    EXPECT_EQ(Image(481), Sim().Programmed(kBattery));
    EXPECT_TRUE(Sim().Running(kBattery));
    const std::vector<Bytes> chunks = Frames(kBattery, 0x09);
    ASSERT_EQ(3u, chunks.size());
    const uint8_t first = chunks[0][8];
    for (size_t index = 0; index < chunks.size(); ++index) {
        EXPECT_EQ(0x0F000009u, tarn::LoadLe32(chunks[index].data()));
        EXPECT_EQ(static_cast<uint8_t>(first + index), chunks[index][8]) << "consecutive sequence numbers";
        EXPECT_EQ(index < 2 ? 240 : 1, chunks[index][11]);
    }
    EXPECT_EQ((Bytes{1, 0}), FlagValues(kBattery, 2));
    const std::string out = WithoutLocations(run.out);
    EXPECT_NE(std::string::npos, out.find(WarnLine("received NACK.\n")));
    EXPECT_NE(std::string::npos, out.find(ErrorLine("Error device ID 0x43\n") + WarnLine("received error frame.\n")));
    EXPECT_NE(std::string::npos, out.find(WarnLine("received error packet.\n")));
    EXPECT_EQ(std::string::npos, out.find("fail")) << out;
    EXPECT_EQ(0u, out.rfind(BeginLine("bms.bin", 481) + InfoLine("step 1: enter bootload.\n"), 0)) << out;
    EXPECT_TRUE(Sim().Complaints().empty());
}

TEST_F(SuperDeviceTest, QueriesPrintTheirValueAndRefuseWrongLengths) {
    const ToolRun version = Run("tarn-ops", {"bms_getVer"});
    EXPECT_EQ(0, version.exitStatus) << version.out;
    EXPECT_EQ("bms_getVer: 0x01020304\n", version.out);
    EXPECT_EQ("bms_getHwVer: 0x0a0b0c0d\n", Run("tarn-ops", {"bms_getHwVer"}).out);
    EXPECT_EQ("bms_getPercent: 87\n", Run("tarn-ops", {"bms_getPercent"}).out);
    EXPECT_EQ("of_getVer: 0x12345678\n", Run("tarn-ops", {"of_getVer"}).out);
    Sim().SetReplyData(kImu, 0x02, {0xA1, 0xB2, 0xC3, 0xD4, 0, 0, 0, 0});
    EXPECT_EQ("imu_GetVer: 0xa1b2c3d4\n", Run("tarn-ops", {"imu_GetVer"}).out);
    EXPECT_EQ((Bytes{1, 0, 1, 0, 1, 0}), FlagValues(kBattery, 6)) << "every query wraps its request in the flag";

    Sim().SetReplyData(kBattery, 0x12, {50, 0});
    const ToolRun percent = Run("tarn-ops", {"bms_getPercent"});
    EXPECT_EQ(255, percent.exitStatus);
    EXPECT_EQ(ErrorLine("expect data length 1, actual is 0x02 .\n"), WithoutLocations(percent.out));
    Sim().SetReplyData(kFlow, 0x02, Bytes(8, 1));
    const ToolRun flow = Run("tarn-ops", {"sonic_getVer"});
    EXPECT_EQ(255, flow.exitStatus);
    EXPECT_EQ(ErrorLine("expect data length 8, actual is 0x08 .\n"), WithoutLocations(flow.out));
    EXPECT_EQ(0x0F020102u, tarn::LoadLe32(Frames(kFlow, 0x02).back().data())) << "the sonar's selector";
}

TEST_F(SuperDeviceTest, EscTwoIsDeviceSixWithChunkHeadersAndKeepsThePassThroughOn) {
    PlaceFile("esc.bin", Image(241));
    const ToolRun run = Run("tarn-ops", {"esc_upgrade", "esc.bin", "2"}, kRunLimit);

    EXPECT_EQ(0, run.exitStatus) << run.out;
    EXPECT_EQ(Image(241), Sim().Programmed(6, 3));
    EXPECT_TRUE(Sim().Running(6, 3));
    std::vector<uint32_t> commands;
    for (const tarn::bench::ReceivedFrame &frame : Sim().Frames()) {
        EXPECT_EQ(6, frame.bytes[4]);
        commands.push_back(tarn::LoadLe32(frame.bytes.data()));
    }
    EXPECT_EQ((std::vector<uint32_t>{0x0F000011, 0x0F030110, 0x0F030103, 0x0F030107, 0x0F030108, 0x0F030111, 0x0F030109,
                                     0x0F030111, 0x0F030109, 0x0F03010C, 0x0F03010D}),
              commands);
    const std::vector<Bytes> headers = Frames(6, 0x11);
    ASSERT_EQ(3u, headers.size());
    const Bytes image = Image(241);
    uint8_t crcFirst[4], crcLast[4];
    tarn::StoreLe32(crcFirst, Crc_Crc32Words(image.data(), 240));
    tarn::StoreLe32(crcLast, Crc_Crc32Words(image.data() + 240, 1));
    EXPECT_EQ((Bytes{0xF0, 0x00, 0x01, 0x00, crcFirst[0], crcFirst[1], crcFirst[2], crcFirst[3]}),
              Bytes(headers[1].begin() + 12, headers[1].begin() + 20));
    EXPECT_EQ((Bytes{0x01, 0x00, 0x02, 0x00, crcLast[0], crcLast[1], crcLast[2], crcLast[3]}),
              Bytes(headers[2].begin() + 12, headers[2].begin() + 20));
    EXPECT_EQ(0, headers[1][8]) << "a chunk header goes out with sequence 0";
    SentByTheTool(Port());
    EXPECT_EQ(Bytes{1}, FlagValues(6, 1)) << "no flag-off after a successful upgrade";
    EXPECT_TRUE(Sim().Complaints().empty());
}

TEST_F(SuperDeviceTest, ALostAnswerIsResentOnceWithTheSameBytes) {
    Sim().IgnoreNext(FmuSuperSimulator::Kind(kFlow, 0x02), 1);
    const ToolRun run = Run("tarn-ops", {"of_getVer"});
    EXPECT_EQ(0, run.exitStatus) << run.out;
    const std::vector<Bytes> requests = Frames(kFlow, 0x02);
    ASSERT_EQ(2u, requests.size());
    EXPECT_EQ(requests[0], requests[1]);
    EXPECT_NE(std::string::npos, WithoutLocations(run.out).find(WarnLine("send data but no ack, try it again.\n")));
}

TEST_F(SuperDeviceTest, AnEmptyImageIsRefusedBeforeThePortOpens) {
    PlaceFile("empty.bin", {});
    for (const std::string op : {"bms_upgrade", "imu_upgrade", "of_upgrade"}) {
        const ToolRun run = Run("tarn-ops", {op, "empty.bin"});
        EXPECT_EQ(255, run.exitStatus) << op;
        EXPECT_EQ(ErrorLine("get file buf fail.\n"), WithoutLocations(run.out)) << op;
    }
    EXPECT_TRUE(SentByTheTool(Port()).empty());
}

TEST_F(SuperDeviceSlow, ThreeLostAnswersEndARunThatTheNextRunRepeatsAndAFailedPrepareEndsTheImuRun) {
    Sim().IgnoreNext(FmuSuperSimulator::Kind(kBattery, 0x09), 3);
    PlaceFile("bms.bin", Image(481));
    const ToolRun battery = Run("tarn-ops", {"bms_upgrade", "bms.bin"}, 200s);
    EXPECT_EQ(0, battery.exitStatus) << battery.out;
    const std::string out = WithoutLocations(battery.out);
    EXPECT_NE(std::string::npos,
              out.find(WarnLine("wait ack error.\n") + ErrorLine("send upgrade data error afte three time retry.\n") +
                       ErrorLine("program flash fail.\n") + WarnLine("upgrade bms fail and try it again.\n")))
        << out;
    EXPECT_EQ(Image(481), Sim().Programmed(kBattery)) << "the second run erased and programmed it all";

    Sim().IgnoreNext(FmuSuperSimulator::Kind(kImu, 0x10), 3);
    PlaceFile("imu.bin", Image(100));
    const ToolRun imu = Run("tarn-ops", {"imu_upgrade", "imu.bin"}, 120s);
    EXPECT_EQ(255, imu.exitStatus);
    const std::string imuOut = WithoutLocations(imu.out);
    EXPECT_NE(std::string::npos, imuOut.find(ErrorLine("prepare fail.\n")));
    EXPECT_EQ(std::string::npos, imuOut.find("step 2:")) << "a failed prepare ends the run";
    EXPECT_EQ((Bytes{1, 0, 1, 0, 1, 0}), FlagValues(kImu, 6));
    EXPECT_NE(std::string::npos, imuOut.find(WarnLine("upgrade imu fail and try it again.\n")));
    EXPECT_NE(std::string::npos, imuOut.find(ErrorLine("upgrade imu fail.\n")));
}

} // namespace
