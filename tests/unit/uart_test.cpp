// The serial port against a pseudo-terminal bound onto /dev/ttySn in the test's own sandbox.
#include <gtest/gtest.h>

#include <chrono>
#include <fcntl.h>
#include <memory>
#include <string>
#include <sys/ioctl.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "console_capture.h"
#include "tarn_bench_namespace.h"
#include "tarn_bench_sim_port.h"
#include "tarn_handle.h"
#include "tarn_uart.h"
#include "test_support.h"

namespace {

using tarn::bench::SimPort;
using test_support::Clock;
using test_support::MillisecondsSince;

constexpr int kPort = 1;

std::vector<uint8_t> Bytes(std::initializer_list<uint8_t> list) {
    return std::vector<uint8_t>(list);
}

class UartTest : public testing::Test {
protected:
    void SetUp() override {
        sim = SimPort::Create();
        ASSERT_NE(sim, nullptr);
        ASSERT_EQ(tarn::bench::AttachSerialDevice(kPort, *sim), 0);
    }
    void Open(int32_t baudrate = 115200) {
        const UartParam param{kPort, baudrate};
        ASSERT_EQ(Uart_Create(uart.Address(), &param), 0);
    }
    // True once count bytes written on the simulator side wait at the tool's end of the line, unread.
    static bool BytesWaiting(int count) {
        const int observer = open(("/dev/ttyS" + std::to_string(kPort)).c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
        const bool arrived = test_support::WaitUntil([&] {
            int waiting = 0;
            return ioctl(observer, FIONREAD, &waiting) == 0 && waiting >= count;
        });
        close(observer);
        return arrived;
    }

    std::unique_ptr<SimPort> sim;
    OwnedHandle<Uart, Uart_Delete> uart;
};

TEST_F(UartTest, UnsupportedBaudrateIsRefusedWithBothLines) {
    Uart *untouched = reinterpret_cast<Uart *>(this);
    Uart *handle = untouched;
    const UartParam param{kPort, 38400};
    StdoutCapture capture;
    EXPECT_EQ(Uart_Create(&handle, &param), -1);
    EXPECT_EQ(WithoutLocations(capture.Finish()),
              ErrorLine("unsupport baudrate=38400.\n") + ErrorLine("uart init fail.\n"));
    EXPECT_EQ(handle, untouched);
}

TEST_F(UartTest, MissingOrNonTerminalDeviceFailsInit) {
    Uart *handle = nullptr;
    const UartParam absent{9, 115200};
    StdoutCapture absentCapture;
    EXPECT_EQ(Uart_Create(&handle, &absent), -1);
    EXPECT_EQ(WithoutLocations(absentCapture.Finish()),
              SyserrLine("open", "No such file or directory") + ErrorLine("uart init fail.\n"));

    // The sandbox's unconnected ttyS4 is a plain empty file.
    const UartParam plainFile{4, 115200};
    StdoutCapture plainCapture;
    EXPECT_EQ(Uart_Create(&handle, &plainFile), -1);
    EXPECT_EQ(WithoutLocations(plainCapture.Finish()), ErrorLine("tcgetattr") + ErrorLine("uart init fail.\n"));
    EXPECT_EQ(handle, nullptr);
}

TEST_F(UartTest, LineAlreadyOpenIsRefusedWithItsPath) {
    Open();
    Uart *second = nullptr;
    const UartParam param{kPort, 115200};
    StdoutCapture capture;
    EXPECT_EQ(Uart_Create(&second, &param), -1);
    EXPECT_EQ(WithoutLocations(capture.Finish()),
              ErrorLine("/dev/ttyS1 is in use.\n") + ErrorLine("uart init fail.\n"));
    EXPECT_EQ(second, nullptr);
}

TEST_F(UartTest, ConfiguresRaw8N1AtEachSupportedSpeed) {
    const std::string device = "/dev/ttyS" + std::to_string(kPort);
    const int observer = open(device.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(observer, 0);
    const struct {
        int32_t baudrate;
        speed_t speed;
    } speeds[] = {{4800, B4800}, {9600, B9600}, {19200, B19200}, {115200, B115200}};
    for (const auto &line : speeds) {
        // Leave settings behind that a careless open would inherit.
        termios before{};
        ASSERT_EQ(tcgetattr(observer, &before), 0);
        before.c_cc[VMIN] = 0;
        before.c_cc[VTIME] = 5;
        before.c_cflag |= PARENB | CSTOPB;
        before.c_lflag |= ICANON | ECHO;
        before.c_iflag |= ICRNL | IXON;
        before.c_oflag |= OPOST | ONLCR;
        ASSERT_EQ(tcsetattr(observer, TCSANOW, &before), 0);

        Open(line.baudrate);
        termios after{};
        ASSERT_EQ(tcgetattr(observer, &after), 0);
        EXPECT_EQ(cfgetispeed(&after), line.speed) << line.baudrate;
        EXPECT_EQ(cfgetospeed(&after), line.speed) << line.baudrate;
        EXPECT_EQ(after.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
        EXPECT_EQ(after.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
        EXPECT_EQ(after.c_cflag & (CLOCAL | CREAD), static_cast<tcflag_t>(CLOCAL | CREAD));
        EXPECT_EQ(after.c_lflag & (ICANON | ECHO | ECHOE | ISIG), 0u);
        EXPECT_EQ(after.c_iflag, 0u);
        EXPECT_EQ(after.c_oflag, 0u);
        EXPECT_EQ(after.c_cc[VMIN], 1);
        EXPECT_EQ(after.c_cc[VTIME], 0);
        Uart_Delete(uart.Address());
        EXPECT_EQ(uart.Get(), nullptr);
    }
    close(observer);
}

TEST_F(UartTest, ReadTimeoutOfZeroPollsAndReadingNothingReturnsAtOnce) {
    Open();
    std::vector<uint8_t> buffer(16, 0);
    Clock::time_point start = Clock::now();
    EXPECT_EQ(uart->ReadTimeout(uart.Get(), buffer.data(), 16, 0), 0);
    EXPECT_LT(MillisecondsSince(start), 500);

    ASSERT_EQ(sim->Write(Bytes({0xFE, 0x00, 0x55})), 3);
    ASSERT_TRUE(BytesWaiting(3));
    start = Clock::now();
    ASSERT_EQ(uart->ReadTimeout(uart.Get(), buffer.data(), 16, 0), 3);
    EXPECT_LT(MillisecondsSince(start), 500);
    EXPECT_EQ(std::vector<uint8_t>(buffer.begin(), buffer.begin() + 3), Bytes({0xFE, 0x00, 0x55}));

    // Asking for nothing returns at once, whatever time-out comes with it.
    start = Clock::now();
    EXPECT_EQ(uart->Read(uart.Get(), buffer.data(), 0), 0);
    EXPECT_EQ(uart->ReadTimeout(uart.Get(), buffer.data(), 0, 3000), 0);
    EXPECT_LT(MillisecondsSince(start), 500);
}

TEST_F(UartTest, ReadTimeoutWaitsTheWholeTimeOnASilentLine) {
    Open();
    uint8_t buffer[8];
    const Clock::time_point start = Clock::now();
    EXPECT_EQ(uart->ReadTimeout(uart.Get(), buffer, sizeof buffer, 1500), 0);
    const long long waited = MillisecondsSince(start);
    EXPECT_GE(waited, 1450);
    EXPECT_LT(waited, 6000);
}

TEST_F(UartTest, ReadTimeoutReturnsAsSoonAsSomeBytesCome) {
    Open();
    const Clock::time_point start = Clock::now();
    std::thread device([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        sim->Write(Bytes({0xA5, 0x5A}));
    });
    uint8_t buffer[64];
    const int count = uart->ReadTimeout(uart.Get(), buffer, sizeof buffer, 5000);
    const long long waited = MillisecondsSince(start);
    device.join();
    ASSERT_EQ(count, 2);
    EXPECT_EQ(buffer[0], 0xA5);
    EXPECT_EQ(buffer[1], 0x5A);
    EXPECT_GE(waited, 199);
    EXPECT_LT(waited, 4000);
}

TEST_F(UartTest, ReadCollectsTheFullCountAcrossSeveralArrivals) {
    Open();
    const std::vector<uint8_t> message = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    std::thread device([&] {
        for (size_t offset = 0; offset < message.size(); offset += 4) {
            std::this_thread::sleep_for(std::chrono::milliseconds(60));
            const size_t length = std::min<size_t>(4, message.size() - offset);
            sim->Write(message.data() + offset, length);
        }
    });
    std::vector<uint8_t> buffer(message.size());
    EXPECT_EQ(uart->Read(uart.Get(), buffer.data(), static_cast<uint32_t>(buffer.size())), 10);
    device.join();
    EXPECT_EQ(buffer, message);
}

TEST_F(UartTest, WriteHandsOverEveryByte) {
    Open();
    std::vector<uint8_t> image(64 * 1024);
    for (size_t index = 0; index < image.size(); ++index) {
        image[index] = static_cast<uint8_t>(index * 7 + (index >> 8));
    }
    std::vector<uint8_t> received(image.size());
    int receivedCount = 0;
    std::thread device([&] { receivedCount = sim->ReadExact(received.data(), received.size(), 20000); });
    EXPECT_EQ(uart->Write(uart.Get(), image.data(), static_cast<uint32_t>(image.size())),
              static_cast<int>(image.size()));
    device.join();
    EXPECT_EQ(receivedCount, static_cast<int>(image.size()));
    EXPECT_TRUE(received == image);
}

} // namespace
