// Console helpers.
#include <gtest/gtest.h>

#include "tarn_console.h"

namespace {

TEST(Console, BaseNameTakesTheTextAfterTheLastSlash) {
    EXPECT_STREQ("tarn_uart.cpp", tarn::BaseName("code/common/src/tarn_uart.cpp"));
    EXPECT_STREQ("upgrade_rf", tarn::BaseName("/usr/bin/upgrade_rf"));
    EXPECT_STREQ("tarn", tarn::BaseName("tarn"));
    EXPECT_STREQ("", tarn::BaseName("dir/"));
}

} // namespace
