// The command table against the installed link names, and the rows still waiting for their tools.
#include <gtest/gtest.h>

#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tarn_commands.h"
#include "tarn_console.h"

namespace {

std::vector<std::string> InstalledToolNames() {
    std::vector<std::string> names;
    std::stringstream list(TARN_TOOL_NAMES_CSV);
    for (std::string name; std::getline(list, name, ',');) {
        names.push_back(name);
    }
    return names;
}

TEST(CommandTable, MatchesTheInstalledLinksInOrder) {
    const std::vector<std::string> installed = InstalledToolNames();
    ASSERT_EQ(installed.size(), kCommandTable.size());
    for (size_t row = 0; row < kCommandTable.size(); ++row) {
        EXPECT_EQ(installed[row], kCommandTable[row].name) << "row " << row;
    }
}

TEST(CommandTable, RowsNotBuiltYet) {
    std::set<std::string> notBuilt;
    for (const CommandEntry &command : kCommandTable) {
        if (command.entry == Main_NotBuilt) {
            notBuilt.insert(command.name);
        }
    }
    const std::set<std::string> expected = {"dlog",       "dlogger",   "upgrade_rc",  "upgrade_rf",
                                            "uart_debug", "fmu_debug", "mcu_dlogger", "upgrade_fmu_super"};
    EXPECT_EQ(notBuilt, expected);
}

TEST(Console, BaseNameTakesTheTextAfterTheLastSlash) {
    EXPECT_STREQ("tarn_uart.cpp", tarn::BaseName("code/common/src/tarn_uart.cpp"));
    EXPECT_STREQ("upgrade_rf", tarn::BaseName("/usr/bin/upgrade_rf"));
    EXPECT_STREQ("tarn", tarn::BaseName("tarn"));
    EXPECT_STREQ("", tarn::BaseName("dir/"));
}

} // namespace
