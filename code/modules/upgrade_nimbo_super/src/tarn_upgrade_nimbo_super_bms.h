// The smart battery behind the flight controller: firmware upgrade, firmware and hardware versions, charge.
#pragma once

#include <cstdint>

int bms_upgrade(const char *path);
int bms_getVer(uint32_t *version);
int bms_getHwVer(uint32_t *version);
int bms_getPercent(uint32_t *percent);
int bms_getProgress(uint32_t *progress);
