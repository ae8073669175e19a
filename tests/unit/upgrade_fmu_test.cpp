// upgrade_fmu's own pieces that need no line: the usage text and the bootloader's CRC.
#include <gtest/gtest.h>

#include "console_capture.h"
#include "tarn_upgrade_fmu.h"

namespace {

TEST(UpgradeFmu, WrongArgumentCountsPrintTheUsageAndFail) {
    char name[] = "upgrade_fmu";
    char first[] = "a.bin";
    char second[] = "b.bin";
    char *none[] = {name, nullptr};
    char *two[] = {name, first, second, nullptr};
    StdoutCapture capture;
    EXPECT_EQ(-1, Main_UpgradeFmu(1, none));
    EXPECT_EQ(-1, Main_UpgradeFmu(3, two));
    const std::string usage = "usage: \n| \neg: upgrade_fmu [file_path] \n";
    EXPECT_EQ(usage + usage, capture.Finish());
}

TEST(UpgradeFmu, Crc32IsTheBootloadersRawReflectedCrc) {
    const uint8_t digits[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
    EXPECT_EQ(0x2DFD2D88u, Fmu_Crc32(digits, sizeof(digits), 0));
    EXPECT_EQ(0x2DFD2D88u, Fmu_Crc32(digits + 3, 6, Fmu_Crc32(digits, 3, 0)));
}

} // namespace
