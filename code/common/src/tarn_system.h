// Project and platform identification from the kernel command line's hwinfo= value.
#pragma once

#include <array>
#include <cstddef>

// Project codes returned by Tarn_Proj.
inline constexpr int kProjectCommon = 0;
inline constexpr int kProjectRv310 = 1;
inline constexpr int kProjectRv311 = 2;
inline constexpr int kProjectUnknown = -1;

inline constexpr size_t kHwinfoSize = 32;

enum class HwinfoStatus { kAbsent, kComplete, kTooLong };

struct Hwinfo {
    HwinfoStatus status = HwinfoStatus::kAbsent;
    // Zero-filled; holds at most 31 characters (the first 31 when the value is longer).
    std::array<char, kHwinfoSize> value{};
};

// The hwinfo= value of command-line text: the characters after the first "hwinfo=" up to a ':' or ' '.
Hwinfo Tarn_ParseHwinfo(const char *cmdline);
// The project code that command-line text names; prints the error with the value when it names none.
int Tarn_ProjOfCmdline(const char *cmdline);

// The kernel command line, read whole into text (terminated): 0, or -1 after the failed call's line.
using CmdlineText = std::array<char, 4096>;
int System_ReadCmdline(CmdlineText &text);

// Both read /proc/cmdline on every call.
int Tarn_Proj();
// The platform is never identified: warns and returns -1.
int Tarn_Plat();

struct System {
    void *pPrivate; // always null: the module keeps no state
    int (*Upgrade)(System *pSystem);
    int (*GetPlat)(System *pSystem);
    // pProject is the caller's 32-byte buffer.
    int (*GetProj)(System *pSystem, char *pProject);
};

int System_Create(System **ppSystem);
void System_Delete(System **ppSystem);

int System_Upgrade(System *pSystem);
int System_GetPlat(System *pSystem);
int System_GetProj(System *pSystem, char *pProject);
// System_GetProj's rules applied to command-line text.
int System_GetProjOfCmdline(const char *cmdline, char *pProject);
