// The command table: the 24 tools of the executable, in the order the banner lists them.
#pragma once

#include <array>

using ToolEntry = int (*)(int argc, char *argv[]);

struct CommandEntry {
    const char *name;
    ToolEntry entry;
};

inline constexpr int kCommandCount = 24;
extern const std::array<CommandEntry, kCommandCount> kCommandTable;

int Main_Tarn(int argc, char *argv[]);
int Main_Dlog(int argc, char *argv[]);
int Main_Dlogger(int argc, char *argv[]);
int Main_Msleep(int argc, char *argv[]);
int Main_Usleep(int argc, char *argv[]);
int Main_Unitest(int argc, char *argv[]);
int Main_UpgradeFmu(int argc, char *argv[]);
int Main_UpgradeImu(int argc, char *argv[]);
int Main_UpgradeOf(int argc, char *argv[]);
int Main_UpgradeRcrf(int argc, char *argv[]);
int Main_UpgradeBms(int argc, char *argv[]);
int Main_XtbDebug(int argc, char *argv[]);
int Main_LensDebug(int argc, char *argv[]);
int Main_UartDebug(int argc, char *argv[]);
int Main_McuDlogger(int argc, char *argv[]);
int Main_FmuDebug(int argc, char *argv[]);
int Main_PriUenv(int argc, char *argv[]);
int Main_SetUenv(int argc, char *argv[]);
int Main_Binmerge(int argc, char *argv[]);
int Main_UpgradeDm368(int argc, char *argv[]);
int Main_UpgradeHi3519(int argc, char *argv[]);
int Main_UpgradeFmuSuper(int argc, char *argv[]);
