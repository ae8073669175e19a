// The command table's rows still waiting for their tools.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "tarn_commands.h"
#include "tarn_console.h"

namespace {

TEST(CommandTable, RowsNotBuiltYet) {
    std::set<std::string> notBuilt;
    for (const CommandEntry &command : kCommandTable) {
        if (command.entry == Main_NotBuilt) {
            notBuilt.insert(command.name);
        }
    }
    const std::set<std::string> expected = {"upgrade_fmu_super"};
    EXPECT_EQ(notBuilt, expected);
}

TEST(Console, BaseNameTakesTheTextAfterTheLastSlash) {
    EXPECT_STREQ("tarn_uart.cpp", tarn::BaseName("code/common/src/tarn_uart.cpp"));
    EXPECT_STREQ("upgrade_rf", tarn::BaseName("/usr/bin/upgrade_rf"));
    EXPECT_STREQ("tarn", tarn::BaseName("tarn"));
    EXPECT_STREQ("", tarn::BaseName("dir/"));
}

} // namespace
