// Next log number: the largest existing number plus one, whatever else the directory holds.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <unistd.h>

#include "tarn_numbered_file.h"

namespace {

class NumberedFileTest : public testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/numbered-XXXXXX";
        ASSERT_NE(nullptr, mkdtemp(pattern));
        dir_ = pattern;
    }
    void TearDown() override { ASSERT_EQ(0, system(("rm -rf " + dir_).c_str())); }

    void Touch(const std::string &name) {
        const int fd = open((dir_ + "/" + name).c_str(), O_CREAT | O_WRONLY, 0644);
        ASSERT_GE(fd, 0);
        close(fd);
    }

    std::string dir_;
};

TEST_F(NumberedFileTest, EmptyOrMissingDirectoryStartsAtOne) {
    EXPECT_EQ(1, NumberedFile_Next(dir_.c_str(), "xtblog", 32));
    EXPECT_EQ(1, NumberedFile_Next((dir_ + "/absent").c_str(), "xtblog", 32));
}

TEST_F(NumberedFileTest, TakesTheLargestNumberNotTheCount) {
    Touch("xtblog_0001");
    Touch("xtblog_0007");
    EXPECT_EQ(8, NumberedFile_Next(dir_.c_str(), "xtblog", 32));
}

TEST_F(NumberedFileTest, IgnoresOtherNamesAndNumbersPastFourDigits) {
    Touch("xtblog_0003");
    Touch("dlog_0099");
    Touch("xtblog_notanumber");
    Touch("mcudlog_00123"); // four digits are read: 12
    EXPECT_EQ(4, NumberedFile_Next(dir_.c_str(), "xtblog", 32));
    EXPECT_EQ(100, NumberedFile_Next(dir_.c_str(), "dlog_", 31));
    EXPECT_EQ(13, NumberedFile_Next(dir_.c_str(), "mcudlog", 31));
    EXPECT_EQ(124, NumberedFile_Next(dir_.c_str(), "mcudlog", 31, true)) << "a recorder reads every digit";
}

} // namespace
