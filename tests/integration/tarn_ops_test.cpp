// tarn-ops: the list of operations and the refusals, through the installed executable.
#include "bench_fixture.h"
#include "tarn_bench_sim_telemetry.h"
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

// The battery's queries through the telemetry line: the handler starts, asks, files the reply to its own
// command, stops; one plain result line for a script.
TEST_F(TarnOpsTest, BatteryQueriesAnswerOrFailThroughTheTelemetryLine) {
    using tarn::bench::TelemetrySimulator;
    std::unique_ptr<tarn::bench::SimPort> port = tarn::bench::SimPort::Create();
    ASSERT_NE(port, nullptr);
    Bench().Settings().serial[0] = port.get();
    TelemetrySimulator sim(*port);
    sim.SetStreaming(false);
    sim.SetBatteryValues(0x0102, 0x0A0B, 87);
    ASSERT_EQ(0, sim.Start());

    const ToolRun app = Run("tarn-ops", {"Bms_GetAppVer"});
    EXPECT_EQ(app.exitStatus, 0) << app.out;
    EXPECT_NE(app.out.find("Bms_GetAppVer: 0x01020000\n"), std::string::npos) << app.out;
    const ToolRun percent = Run("tarn-ops", {"Bms_GetPercent"});
    EXPECT_EQ(percent.exitStatus, 0) << percent.out;
    EXPECT_NE(percent.out.find("Bms_GetPercent: 87\n"), std::string::npos) << percent.out;
    EXPECT_EQ(Run("tarn-ops", {"MavImu_Nop"}).exitStatus, 0);

    sim.SetBattery(TelemetrySimulator::Battery::Refuse);
    const ToolRun refused = Run("tarn-ops", {"Bms_GetBldVer"});
    EXPECT_EQ(refused.exitStatus, 255) << refused.out;
    EXPECT_NE(refused.out.find("CMD NACK."), std::string::npos) << refused.out;
    EXPECT_EQ(refused.out.find("Bms_GetBldVer:"), std::string::npos) << refused.out;
    Bench().Stop();
}

} // namespace
