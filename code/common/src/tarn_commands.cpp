#include "tarn_commands.h"

#include "tarn_tool_names.h"

namespace {

struct ToolRow {
    Tool tool;
    ToolEntry entry;
};

// One row per tool name of cmake/TarnTools.cmake, in its order (checked below).
constexpr ToolRow kToolRows[] = {
    {Tool::tarn, Main_Tarn},
    {Tool::dlog, Main_Dlog},
    {Tool::dlogger, Main_Dlogger},
    {Tool::msleep, Main_Msleep},
    {Tool::usleep, Main_Usleep},
    {Tool::unitest, Main_Unitest},
    {Tool::upgrade_fmu, Main_UpgradeFmu},
    {Tool::upgrade_imu, Main_UpgradeImu},
    {Tool::upgrade_of, Main_UpgradeOf},
    {Tool::upgrade_bms, Main_UpgradeBms},
    {Tool::upgrade_rc, Main_UpgradeRcrf},
    {Tool::upgrade_rf, Main_UpgradeRcrf},
    {Tool::upgrade_dm368_kernel, Main_UpgradeDm368},
    {Tool::upgrade_dm368_fs, Main_UpgradeDm368},
    {Tool::uart_debug, Main_UartDebug},
    {Tool::xtb_debug, Main_XtbDebug},
    {Tool::fmu_debug, Main_FmuDebug},
    {Tool::mcu_dlogger, Main_McuDlogger},
    {Tool::priuenv, Main_PriUenv},
    {Tool::setuenv, Main_SetUenv},
    {Tool::binmerge, Main_Binmerge},
    {Tool::upgrade_hi3519, Main_UpgradeHi3519},
    {Tool::lens_debug, Main_LensDebug},
    {Tool::upgrade_fmu_super, Main_UpgradeFmuSuper},
};

constexpr bool RowsFollowTheToolNames() {
    int row = 0;
    for (const ToolRow &toolRow : kToolRows) {
        if (static_cast<int>(toolRow.tool) != row++) {
            return false;
        }
    }
    return row == kToolCount;
}
static_assert(kCommandCount == kToolCount && RowsFollowTheToolNames(),
              "the command table has one row per tool name, in the order of cmake/TarnTools.cmake");

constexpr std::array<CommandEntry, kCommandCount> BuildCommandTable() {
    std::array<CommandEntry, kCommandCount> table{};
    for (int row = 0; row < kCommandCount; ++row) {
        table[row] = {kToolNames[row], kToolRows[row].entry};
    }
    return table;
}

} // namespace

const std::array<CommandEntry, kCommandCount> kCommandTable = BuildCommandTable();
