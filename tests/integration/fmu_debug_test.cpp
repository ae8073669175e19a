// fmu_debug, installed, against the bench's telemetry source: the usage, every item line at zeros and at its
// fields' extremes, the print interval, and the raw dump of every frame once, in order, through faults.
#include <cfloat>
#include <climits>
#include <cstring>

#include "bench_fixture.h"
#include "console_lines.h"
#include "tarn_bench_sim_telemetry.h"
#include "tarn_byte_order.h"
#include "tarn_mavlink.h"

namespace {

using namespace bench_test;
using tarn::bench::TelemetrySimulator;
using Bytes = std::vector<uint8_t>;

// A payload filled field by field.
class Payload {
public:
    explicit Payload(size_t length) : bytes_(length) {}
    Payload &U8(size_t at, uint8_t value) {
        bytes_[at] = value;
        return *this;
    }
    Payload &U16(size_t at, uint16_t value) {
        tarn::StoreLe16(&bytes_[at], value);
        return *this;
    }
    Payload &U32(size_t at, uint32_t value) {
        tarn::StoreLe32(&bytes_[at], value);
        return *this;
    }
    Payload &U64(size_t at, uint64_t value) {
        U32(at, static_cast<uint32_t>(value));
        return U32(at + 4, static_cast<uint32_t>(value >> 32));
    }
    Payload &F32(size_t at, float value) {
        uint32_t bits;
        memcpy(&bits, &value, sizeof bits);
        return U32(at, bits);
    }
    Payload &Text(size_t at, const char *text) {
        memcpy(&bytes_[at], text, strlen(text));
        return *this;
    }
    const Bytes &Get() const { return bytes_; }

private:
    Bytes bytes_;
};

const std::string kMaxFloat = "340282346638528859811704183484516925440.00";

const std::vector<std::string> kZeroLines = {
    "GPS info: latitude=0, longitude=0, altitude=0.\n",
    "attitude info: time=0, roll=0.00, pitch=0.00, yaw=0.00, roll speed=0.00, pitch speed=0.00, yaw speed=0.00.\n",
    "global position info: time=0, latitude=0, longitude=0, altitude=0, relative altitude=0, vx=0, vy=0, vz=0, "
    "hdg=0.\n",
    "system status: warn state=0, load=0, fly status=0, version=.\n",
    "battery info:  voltage=0.00mv, capacity=0.00mah, current=0.00ma, temperature=0.00, design capacity=0mah, full "
    "capacity=0fmah.\n",
    "battery info ext: cell1=0, cell2=0, cell3=0, cell4=0, cell5=0, cell6=0\n",
    "GPS raw info: time=0, latitude=0, longitude=0, altitude=0, eph=0, epv=0, vel=0, cog=0, fix type=0, "
    "satellites=0.\n",
    "local position: time=0, X=0.00, Y=0.00, Z=0.00, Vx=0.00, Vy=0.00, Vz=0.00.\n",
    "IMU acceleration: Xacc=0.00, Yacc=0.00, Zacc=0.00\n",
    "IMU gyro: Xgyro=0.00, Ygyro=0.00, Zgyro=0.00.\n",
    "IMU magnetic: Xmag=0.00, Ymag=0.00, Zmag=0.00.\n",
    "pressure: abs=0.00, diff=0.00, alt=0.00, temp=0.00.\n",
    "heartbeat info: mode=0, type=0, autopilot=0, base mode=0, system status=0, version=0.\n",
};

// Each message at its fields' extremes, and the lines that show them.
void SetExtremes(TelemetrySimulator &sim) {
    sim.SetPayload(49, Payload(12).U32(0, 0x80000000).U32(4, INT32_MAX).U32(8, UINT32_MAX).Get());
    sim.SetPayload(30, Payload(28)
                           .U32(0, UINT32_MAX)
                           .F32(4, FLT_MAX)
                           .F32(8, -FLT_MAX)
                           .F32(12, 1.25f)
                           .F32(16, -2.5f)
                           .F32(20, 3.75f)
                           .F32(24, -0.5f)
                           .Get());
    sim.SetPayload(33, Payload(28)
                           .U32(0, 0x80000000)
                           .U32(4, 0x80000000)
                           .U32(8, INT32_MAX)
                           .U32(12, UINT32_MAX)
                           .U32(16, INT32_MAX)
                           .U16(20, 0x8000)
                           .U16(22, 0x7FFF)
                           .U16(24, 0xFFFF)
                           .U16(26, 0xFFFF)
                           .Get());
    // The version fills its 8 bytes; the byte after it must not show.
    sim.SetPayload(1, Payload(20).U32(0, UINT32_MAX).U16(8, 0xFFFF).U8(10, 0xFF).Text(11, "V1.2.3-rZ").Get());
    sim.SetPayload(214, Payload(84)
                            .F32(0, 16800.5f)
                            .F32(4, -1.0f)
                            .F32(8, FLT_MAX)
                            .F32(12, -FLT_MAX)
                            .U32(20, 0x80000000)
                            .U32(24, INT32_MAX)
                            .U16(30, 0)
                            .U16(32, 0xFFFF)
                            .U16(34, 1)
                            .U16(36, 0x8000)
                            .U16(38, 2)
                            .U16(40, 0xFFFE)
                            .Get());
    sim.SetPayload(24, Payload(40)
                           .U64(0, 0x8000000000000000ull)
                           .U32(16, 0x80000000)
                           .U32(20, INT32_MAX)
                           .U32(24, UINT32_MAX)
                           .U16(28, 0xFFFF)
                           .U16(30, 0)
                           .U16(32, 0xFFFF)
                           .U16(34, 1)
                           .U8(36, 0xFF)
                           .U8(37, 0xFF)
                           .Get());
    sim.SetPayload(32, Payload(28)
                           .U32(0, UINT32_MAX)
                           .F32(4, -FLT_MAX)
                           .F32(8, FLT_MAX)
                           .F32(12, 0.25f)
                           .F32(16, -0.75f)
                           .F32(20, 100.5f)
                           .F32(24, -100.5f)
                           .Get());
    Payload imu(72);
    const float imuValues[] = {FLT_MAX, -FLT_MAX, 9.75f,    0.5f,   -0.5f,  1.5f,   -1.5f,
                               2.25f,   -2.25f,   1013.25f, -0.25f, 110.5f, -40.75f};
    for (size_t index = 0; index < 13; ++index) {
        imu.F32(8 + 4 * index, imuValues[index]);
    }
    sim.SetPayload(105, imu.Get());
    sim.SetPayload(0, Payload(9).U32(0, UINT32_MAX).U8(4, 0xFF).U8(5, 0).U8(6, 0xFF).U8(7, 1).U8(8, 0xFF).Get());
}

const std::vector<std::string> kExtremeLines = {
    "GPS info: latitude=-2147483648, longitude=2147483647, altitude=-1.\n",
    "attitude info: time=-1, roll=" + kMaxFloat + ", pitch=-" + kMaxFloat +
        ", yaw=1.25, roll speed=-2.50, pitch speed=3.75, yaw speed=-0.50.\n",
    "global position info: time=-2147483648, latitude=-2147483648, longitude=2147483647, altitude=-1, relative "
    "altitude=2147483647, vx=-32768, vy=32767, vz=-1, hdg=65535.\n",
    "system status: warn state=-1, load=65535, fly status=255, version=V1.2.3-r.\n",
    "battery info:  voltage=16800.50mv, capacity=-1.00mah, current=" + kMaxFloat + "ma, temperature=-" + kMaxFloat +
        ", design capacity=-2147483648mah, full capacity=2147483647fmah.\n",
    "battery info ext: cell1=0, cell2=65535, cell3=1, cell4=32768, cell5=2, cell6=65534\n",
    "GPS raw info: time=-9223372036854775808, latitude=-2147483648, longitude=2147483647, altitude=-1, eph=65535, "
    "epv=0, vel=65535, cog=1, fix type=255, satellites=255.\n",
    "local position: time=-1, X=-" + kMaxFloat + ", Y=" + kMaxFloat + ", Z=0.25, Vx=-0.75, Vy=100.50, Vz=-100.50.\n",
    "IMU acceleration: Xacc=" + kMaxFloat + ", Yacc=-" + kMaxFloat + ", Zacc=9.75\n",
    "IMU gyro: Xgyro=0.50, Ygyro=-0.50, Zgyro=1.50.\n",
    "IMU magnetic: Xmag=-1.50, Ymag=2.25, Zmag=-2.25.\n",
    "pressure: abs=1013.25, diff=-0.25, alt=110.50, temp=-40.75.\n",
    "heartbeat info: mode=-1, type=255, autopilot=0, base mode=255, system status=1, version=255.\n",
};

const char kUsage[] = "usage: \n"
                      "| \n"
                      "-- -r, read mavlink message \n"
                      "    eg: fmu_debug -r \n"
                      "-- -i, time interval(ms) \n"
                      "    eg: fmu_debug -i [100~10000]\n"
                      "-- -g, get command \n"
                      "    eg: fmu_debug -g 0, get GPS information\n"
                      "        fmu_debug -g 1, get attitude information\n"
                      "        fmu_debug -g 2, get global position data\n"
                      "        fmu_debug -g 3, get system status\n"
                      "        fmu_debug -g 4, get battery information\n"
                      "        fmu_debug -g 5, get battery extern information\n"
                      "        fmu_debug -g 6, get GPS raw data\n"
                      "        fmu_debug -g 7, get local position data\n"
                      "        fmu_debug -g 8, get imu acceleration\n"
                      "        fmu_debug -g 9, get imu gyro\n"
                      "        fmu_debug -g 10, get imu magnetic\n"
                      "        fmu_debug -g 11, get imu pressure\n"
                      "        fmu_debug -g 12, get heartbeat information\n";

size_t Count(const std::string &text, const std::string &needle) {
    size_t count = 0;
    for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) {
        ++count;
    }
    return count;
}

class FmuDebugTest : public DeviceLineTest<TelemetrySimulator> {
protected:
    void SetUp() override {
        BenchTest::SetUp();
        Attach(0);
    }
    void Prepare(TelemetrySimulator &telemetry) override { telemetry.SetStreaming(false); }
    void TearDown() override {
        Bench().Stop();
        DeviceLineTest::TearDown();
    }

    // Waits until the tool has printed text count times.
    bool WaitForOutput(const std::string &text, size_t count = 1) {
        return test_support::WaitUntil([&] { return Count(Bench().Stdout(), text) >= count; });
    }
    // The service's receive thread runs: the port is open.
    bool WaitForLine() { return WaitForOutput("create thread 'mav_recv' success."); }
};

TEST_F(FmuDebugTest, UsageAndOptionsWithoutTheRawLoop) {
    const ToolRun bare = Run("fmu_debug");
    EXPECT_EQ(0, bare.exitStatus);
    EXPECT_EQ(kUsage, bare.out);

    // -g 40 is refused, -g 13 accepted silently, -h prints the usage and goes on; without -r the tool ends.
    const ToolRun run = Run("fmu_debug", {"-g", "40", "-g", "13", "-h", "-g", "0x1"});
    EXPECT_EQ(0, run.exitStatus);
    const std::string out = WithoutLocations(run.out);
    EXPECT_EQ(1u, Count(out, WarnLine("param invalid.\n"))) << out;
    EXPECT_NE(std::string::npos, out.find(kUsage));
    EXPECT_LT(run.elapsed.count(), 5000);
}

TEST_F(FmuDebugTest, ASecondToolIsRefusedWhileTheFirstHoldsTheLine) {
    ASSERT_TRUE(Start("fmu_debug", {"-r"}));
    ASSERT_TRUE(WaitForLine());
    std::unique_ptr<tarn::bench::Sandbox> second = tarn::bench::Sandbox::Create(Bench().Settings());
    ASSERT_NE(second, nullptr);
    ASSERT_EQ(0, second->Run("fmu_debug", {"-g", "1"}, 30s));
    EXPECT_EQ(255, second->Status().code);
    EXPECT_EQ(ErrorLine("/dev/ttyS0 is in use.\n") + ErrorLine("uart init fail.\n") + ErrorLine("Uart_Create \n") +
                  ErrorLine("mav init fail.\n") + ErrorLine("fmucreate fail.\n"),
              WithoutLocations(second->Stdout()));
}

TEST_F(FmuDebugTest, EveryItemAtZerosThenAtItsExtremes) {
    std::vector<std::string> arguments;
    for (int index = 0; index <= 12; ++index) {
        arguments.insert(arguments.end(), {"-g", std::to_string(index)});
    }
    arguments.push_back("-r");
    ASSERT_TRUE(Start("fmu_debug", arguments));
    std::string block;
    for (const std::string &line : kZeroLines) {
        block += InfoLine(line);
    }
    ASSERT_TRUE(WaitForOutput(block)) << Bench().Stdout();

    SetExtremes(Sim());
    Sim().SetStreaming(true);
    block.clear();
    for (const std::string &line : kExtremeLines) {
        block += InfoLine(line);
    }
    EXPECT_TRUE(WaitForOutput(block)) << Bench().Stdout();
}

TEST_F(FmuDebugTest, ItemsComeEveryIntervalAndNeverFasterThan100Ms) {
    for (const auto &[interval, periodMs] : {std::pair{"1000", 1000}, std::pair{"0", 100}}) {
        ASSERT_TRUE(Start("fmu_debug", {"-i", interval, "-g", "0", "-r"}));
        const std::string line = "GPS info: latitude=0";
        ASSERT_TRUE(WaitForOutput(line, 1));
        const auto first = test_support::Clock::now();
        ASSERT_TRUE(WaitForOutput(line, 6));
        const long long span = test_support::MillisecondsSince(first);
        // Five periods; the first line may have been seen late by a loaded machine's output reader.
        EXPECT_GE(span, 5 * periodMs - 60) << interval;
        EXPECT_LE(span, 5 * periodMs + 1500) << interval;
        Bench().Stop();
    }
}

TEST_F(FmuDebugTest, EveryGoodFrameIsDumpedOnceInOrder) {
    ASSERT_TRUE(Start("fmu_debug", {"-r"}));
    ASSERT_TRUE(WaitForLine());
    Sim().SetCorruptEvery(7);
    Sim().SetTruncateEvery(11);
    Sim().SetNoiseEvery(5);
    Sim().SetBurst(4);
    Sim().SetExtras(true);
    Sim().SetStreaming(true);
    ASSERT_TRUE(test_support::WaitUntil([&] { return Sim().SentFrames().size() >= 200; }));
    Sim().SetStreaming(false);
    Sim().SetExtras(false);
    // Whatever was on its way has gone once a frame sent after it has been dumped.
    Sim().SendMessage(0, 9, Bytes(9, 0x77));
    std::vector<TelemetrySimulator::Sent> sent;
    ASSERT_TRUE(test_support::WaitUntil([&] {
        sent = Sim().SentFrames();
        return sent.back().frame[3] == 9;
    }));
    // A cut frame or noise with a start byte swallows what follows until its length is reached: the frames a
    // receiver can find are those a parse of the whole stream finds, and every one of them was sent good.
    std::vector<Bytes> found;
    MavlinkChannels channels{};
    for (uint8_t byte : Port().BytesFrom(tarn::bench::PortSide::Simulator)) {
        MavlinkMessage message{};
        MavlinkStatus status{};
        if (Mavlink_ParseChar(&channels, 0, byte, &message, &status) == 1) {
            Bytes frame(kMavlinkMaxFrameLength);
            frame.resize(Mavlink_MsgToSendBuffer(frame.data(), &message));
            found.push_back(frame);
        }
    }
    size_t next = 0;
    for (const Bytes &frame : found) {
        while (next < sent.size() && sent[next].frame != frame) {
            ++next;
        }
        ASSERT_LT(next++, sent.size()) << "a frame found that was not sent good";
    }
    EXPECT_GT(found.size(), sent.size() / 2);
    ASSERT_TRUE(test_support::WaitUntil([&] { return Count(Bench().Stdout(), "recv fmu msg: ") >= found.size(); }));

    std::vector<std::string> expected;
    for (const Bytes &bytes : found) {
        // The record's order: checksum low and high byte, then the frame from its start byte.
        std::string dump = "recv fmu msg: \033[m";
        char piece[8];
        for (size_t index : {bytes.size() - 2, bytes.size() - 1}) {
            snprintf(piece, sizeof piece, "0x%02x ", bytes[index]);
            dump += piece;
        }
        for (size_t index = 0; index + 2 < bytes.size(); ++index) {
            snprintf(piece, sizeof piece, "0x%02x ", bytes[index]);
            dump += piece;
        }
        expected.push_back(dump + "\n");
    }
    const std::string out = Bench().Stdout();
    std::vector<std::string> dumped;
    for (size_t at = out.find("recv fmu msg: "); at != std::string::npos; at = out.find("recv fmu msg: ", at + 1)) {
        dumped.push_back(out.substr(at, out.find('\n', at) + 1 - at));
    }
    ASSERT_EQ(expected.size(), dumped.size());
    for (size_t index = 0; index < expected.size(); ++index) {
        ASSERT_EQ(expected[index], dumped[index]) << "frame " << index;
    }
}

} // namespace
