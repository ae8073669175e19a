#include "tarn_commands.h"

#include "tarn_console.h"

const std::array<CommandEntry, kCommandCount> kCommandTable = {{
    {"tarn", Main_Tarn},
    {"dlog", Main_NotBuilt},
    {"dlogger", Main_NotBuilt},
    {"msleep", Main_Msleep},
    {"usleep", Main_Usleep},
    {"unitest", Main_Unitest},
    {"upgrade_fmu", Main_UpgradeFmu},
    {"upgrade_imu", Main_UpgradeImu},
    {"upgrade_of", Main_UpgradeOf},
    {"upgrade_bms", Main_UpgradeBms},
    {"upgrade_rc", Main_NotBuilt},
    {"upgrade_rf", Main_NotBuilt},
    {"upgrade_dm368_kernel", Main_UpgradeDm368},
    {"upgrade_dm368_fs", Main_UpgradeDm368},
    {"uart_debug", Main_NotBuilt},
    {"xtb_debug", Main_XtbDebug},
    {"fmu_debug", Main_NotBuilt},
    {"mcu_dlogger", Main_NotBuilt},
    {"priuenv", Main_PriUenv},
    {"setuenv", Main_SetUenv},
    {"binmerge", Main_Binmerge},
    {"upgrade_hi3519", Main_UpgradeHi3519},
    {"lens_debug", Main_LensDebug},
    {"upgrade_fmu_super", Main_NotBuilt},
}};

int Main_NotBuilt(int argc, char *argv[]) {
    const char *name = argc > 0 && argv[0] != nullptr ? tarn::BaseName(argv[0]) : "";
    TARN_ERR("%s is not built yet.\n", name);
    return -1;
}
