// The optical-flow sensor, the sonar and the speed controllers behind the flight controller: firmware upgrade
// and version, one device at a time.
#pragma once

#include <cstdint>

int of_upgrade(const char *path);
int sonic_upgrade(const char *path);
int esc_upgrade(const char *path, uint32_t index);
int of_getVer(uint32_t *version);
int sonic_getVer(uint32_t *version);
int esc_getVer(uint32_t *version, uint32_t index);
int of_getProgress(uint32_t *progress);
