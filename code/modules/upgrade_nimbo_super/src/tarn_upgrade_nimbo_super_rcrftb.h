// The remote control, the radio transmitter and receiver, the TB module and the remote control's language
// pack on port 0: firmware upgrade and version of each, over the RC/RF frame.
#pragma once

#include <cstdint>

int rc_upgrade(const char *path);
int rftx_upgrade(const char *path);
int tb_upgrade(const char *path);
int rfrx_upgrade(const char *path);
int rcLangLib_upgrade(const char *path);

int rc_getVer(uint32_t *version);
int rftx_getVer(uint32_t *version);
int tb_GetVer(uint32_t *version);
int rfrx_getVer(uint32_t *version);
int rcLangLib_getVer(uint32_t *version);

int rc_getProgress(uint32_t *progress);
int rftx_getProgress(uint32_t *progress);
int rfrx_getProgress(uint32_t *progress);
int tb_getProgress(uint32_t *progress);
int rcLangLib_getProgress(uint32_t *progress);
