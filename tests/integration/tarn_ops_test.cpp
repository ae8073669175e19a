// tarn-ops: the list of operations and the refusals, through the installed executable.
#include "bench_fixture.h"
#include "tarn_ops_table.h"

namespace {

using namespace bench_test;

// The list as the table gives it: the usage line, then one line per operation with its arguments.
std::string ExpectedList() {
    std::string list = "usage: tarn-ops OP [ARGS]\noperations:\n";
    for (size_t index = 0; index < tarn::OpRowCount(); ++index) {
        const tarn::OpRow &row = tarn::OpRows()[index];
        list += std::string("  ") + row.name + (*row.arguments != '\0' ? " " : "") + row.arguments + "\n";
    }
    return list;
}

using TarnOpsTest = BenchTest;

TEST_F(TarnOpsTest, AloneItListsTheOperationsAndSucceeds) {
    const ToolRun run = Run("tarn-ops");
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_EQ(run.out, ExpectedList());
    EXPECT_EQ(run.err, "");
}

TEST_F(TarnOpsTest, AnUnknownOperationOrAWrongArgumentCountListsAndFails) {
    // A tool name is not an operation either: tarn-ops is no way into the command table.
    for (const std::string name : {"no_such_op", "upgrade_fmu", ""}) {
        const ToolRun run = Run("tarn-ops", {name, "x"});
        EXPECT_EQ(run.exitStatus, 255) << name;
        EXPECT_EQ(run.out, ExpectedList()) << name;
    }
    for (size_t index = 0; index < tarn::OpRowCount(); ++index) {
        const tarn::OpRow &row = tarn::OpRows()[index];
        std::vector<std::string> tooMany(static_cast<size_t>(row.argumentCount) + 1, "1");
        tooMany.insert(tooMany.begin(), row.name);
        const ToolRun run = Run("tarn-ops", tooMany);
        EXPECT_EQ(run.exitStatus, 255) << row.name;
        EXPECT_EQ(run.out, ExpectedList()) << row.name;
        if (row.argumentCount > 0) {
            EXPECT_EQ(Run("tarn-ops", {row.name}).out, ExpectedList()) << row.name;
        }
    }
}

} // namespace
