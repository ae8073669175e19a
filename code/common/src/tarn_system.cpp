#include "tarn_system.h"

#include <cstring>
#include <fcntl.h>
#include <new>

#include "tarn_console.h"
#include "tarn_unique_fd.h"

namespace {

constexpr const char kCmdlinePath[] = "/proc/cmdline";
constexpr const char kHwinfoKey[] = "hwinfo=";

struct ProjectCode {
    const char *text;
    int code;
};

// Searched in this order; the first code found anywhere in the value wins.
constexpr std::array<ProjectCode, 3> kProjectCodes = {{
    {"COMM", kProjectCommon},
    {"RV310", kProjectRv310},
    {"RV311", kProjectRv311},
}};

} // namespace

int System_ReadCmdline(CmdlineText &text) {
    text.fill('\0');
    const UniqueFd file(open(kCmdlinePath, O_RDONLY | O_CLOEXEC));
    if (!file.IsOpen()) {
        TARN_SYSERR("open");
        return -1;
    }
    // The kernel may hand the line over in pieces; read to its end (a longer line is cut, still terminated).
    for (size_t used = 0; used < text.size() - 1;) {
        const ssize_t count = read(file.Get(), text.data() + used, text.size() - 1 - used);
        if (count < 0) {
            TARN_SYSERR("read");
            return -1;
        }
        if (count == 0) {
            break;
        }
        used += static_cast<size_t>(count);
    }
    return 0;
}

Hwinfo Tarn_ParseHwinfo(const char *cmdline) {
    Hwinfo hwinfo;
    const char *found = strstr(cmdline, kHwinfoKey);
    if (found == nullptr) {
        return hwinfo;
    }
    const char *value = found + strlen(kHwinfoKey);
    size_t length = 0;
    while (value[length] != '\0' && value[length] != ':' && value[length] != ' ') {
        if (length == hwinfo.value.size() - 1) {
            hwinfo.status = HwinfoStatus::kTooLong;
            return hwinfo;
        }
        hwinfo.value[length] = value[length];
        ++length;
    }
    hwinfo.status = HwinfoStatus::kComplete;
    return hwinfo;
}

int Tarn_ProjOfCmdline(const char *cmdline) {
    const Hwinfo hwinfo = Tarn_ParseHwinfo(cmdline);
    for (const ProjectCode &project : kProjectCodes) {
        if (strstr(hwinfo.value.data(), project.text) != nullptr) {
            return project.code;
        }
    }
    TARN_ERR("unknow project=%s.\n", hwinfo.value.data());
    return kProjectUnknown;
}

int Tarn_Proj() {
    CmdlineText text;
    if (System_ReadCmdline(text) != 0) {
        return kProjectUnknown;
    }
    return Tarn_ProjOfCmdline(text.data());
}

int Tarn_Plat() {
    TARN_WARN("unknow platform.\b");
    return -1;
}

int System_Create(System **ppSystem) {
    TARN_ASSERT(ppSystem);
    System *system = new (std::nothrow) System{nullptr, System_Upgrade, System_GetPlat, System_GetProj};
    if (system == nullptr) {
        TARN_ERR("malloc fail.\n");
        return -1;
    }
    *ppSystem = system;
    return 0;
}

void System_Delete(System **ppSystem) {
    TARN_ASSERT(ppSystem);
    delete *ppSystem;
    *ppSystem = nullptr;
}

int System_Upgrade(System *) {
    TARN_ERR("system upgrade is unsupported.\n");
    return -1;
}

int System_GetPlat(System *) {
    TARN_WARN("unknow platform.\b");
    return 0;
}

int System_GetProjOfCmdline(const char *cmdline, char *pProject) {
    const Hwinfo hwinfo = Tarn_ParseHwinfo(cmdline);
    switch (hwinfo.status) {
        case HwinfoStatus::kAbsent:
            TARN_WARN("unknow project.\n");
            break;
        case HwinfoStatus::kComplete:
            memcpy(pProject, hwinfo.value.data(), hwinfo.value.size());
            break;
        case HwinfoStatus::kTooLong:
            break;
    }
    return 0;
}

int System_GetProj(System *, char *pProject) {
    CmdlineText text;
    if (System_ReadCmdline(text) != 0) {
        return -1;
    }
    return System_GetProjOfCmdline(text.data(), pProject);
}
