// Loading firmware images: the padding rule, the fill byte, and every way a file can be refused.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "console_capture.h"
#include "tarn_firmware_file.h"

namespace {

std::string WriteFile(const std::string &name, const std::vector<uint8_t> &bytes) {
    const std::string path = "/tmp/" + name;
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    EXPECT_GE(fd, 0);
    EXPECT_EQ(static_cast<ssize_t>(bytes.size()), write(fd, bytes.data(), bytes.size()));
    close(fd);
    return path;
}

std::vector<uint8_t> Counting(size_t size) {
    std::vector<uint8_t> bytes(size);
    for (size_t index = 0; index < size; ++index) {
        bytes[index] = static_cast<uint8_t>(index + 1);
    }
    return bytes;
}

TEST(FirmwarePadding, WholeBlocksAlwaysGainOneMore) {
    EXPECT_EQ(60u, Firmware_PaddedLength(1, 60));
    EXPECT_EQ(60u, Firmware_PaddedLength(59, 60));
    EXPECT_EQ(120u, Firmware_PaddedLength(60, 60));
    EXPECT_EQ(180u, Firmware_PaddedLength(120, 60));
    EXPECT_EQ(480u, Firmware_PaddedLength(240, 240));
    EXPECT_EQ(500u, Firmware_PaddedLength(500, 0));
    // No wrap in 32 bits for the largest size the loader accepts.
    EXPECT_EQ(4294967340ull, Firmware_PaddedLength(0xFFFFFFFEu, 60));
}

TEST(FirmwareLoad, FillsThePaddingWithTheGivenByte) {
    const std::vector<uint8_t> content = Counting(120);
    const std::string path = WriteFile("image120.bin", content);
    uint32_t size = 0;
    ASSERT_EQ(0, Firmware_GetSize(path.c_str(), &size));
    ASSERT_EQ(120u, size);

    FirmwareImage image;
    ASSERT_EQ(FirmwareStatus::Ok, Firmware_Load(path.c_str(), size, 60, 0xFF, &image).status);
    ASSERT_EQ(180u, image.length);
    EXPECT_EQ(120u, image.size);
    EXPECT_EQ(content, std::vector<uint8_t>(image.bytes.get(), image.bytes.get() + 120));
    EXPECT_EQ(std::vector<uint8_t>(60, 0xFF), std::vector<uint8_t>(image.bytes.get() + 120, image.bytes.get() + 180));

    FirmwareImage zeroFilled;
    ASSERT_EQ(FirmwareStatus::Ok, Firmware_Load(path.c_str(), size, 240, 0x00, &zeroFilled).status);
    ASSERT_EQ(240u, zeroFilled.length);
    EXPECT_EQ(std::vector<uint8_t>(120, 0x00),
              std::vector<uint8_t>(zeroFilled.bytes.get() + 120, zeroFilled.bytes.get() + 240));

    FirmwareImage exact;
    ASSERT_EQ(FirmwareStatus::Ok, Firmware_Load(path.c_str(), size, 0, 0x00, &exact).status);
    EXPECT_EQ(120u, exact.length);
}

TEST(FirmwareLoad, RefusesEmptyMissingUnreadableAndShortFiles) {
    FirmwareImage image;
    const std::string empty = WriteFile("empty.bin", {});
    EXPECT_EQ(FirmwareStatus::Empty, Firmware_Load(empty.c_str(), 0, 60, 0xFF, &image).status);

    uint32_t size = 0;
    EXPECT_EQ(-1, Firmware_GetSize("/tmp/no-such-image.bin", &size));
    EXPECT_EQ(ENOENT, errno);
    const FirmwareLoad missing = Firmware_Load("/tmp/no-such-image.bin", 10, 60, 0xFF, &image);
    EXPECT_EQ(FirmwareStatus::OpenFailed, missing.status);
    EXPECT_EQ(ENOENT, missing.error);

    ASSERT_EQ(0, mkdir("/tmp/firmware-dir", 0755));
    const FirmwareLoad directory = Firmware_Load("/tmp/firmware-dir", 4096, 60, 0xFF, &image);
    EXPECT_EQ(FirmwareStatus::ReadFailed, directory.status);
    EXPECT_EQ(EISDIR, directory.error);

    // The file shrank between the size query and the read.
    const std::string shrunk = WriteFile("shrunk.bin", Counting(50));
    const FirmwareLoad shortRead = Firmware_Load(shrunk.c_str(), 80, 60, 0xFF, &image);
    EXPECT_EQ(FirmwareStatus::ShortRead, shortRead.status);
    EXPECT_EQ(50, shortRead.countRead);
    EXPECT_EQ(nullptr, image.bytes) << "a failed load hands out no buffer";

    StdoutCapture capture;
    FIRMWARE_REPORT(shortRead, 80u);
    FIRMWARE_REPORT(missing, 10u);
    EXPECT_EQ(ErrorLine("read 50 byte except 80 byte.\n") + SyserrLine("open", strerror(ENOENT)),
              WithoutLocations(capture.Finish()));
}

} // namespace
