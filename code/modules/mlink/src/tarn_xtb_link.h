// Inside the gimbal board module: the one link that the operations, reports and upgrade share.
#pragma once

#include "tarn_mlink_link.h"

MlinkLink &Xtb_Link();
// Fills every slot of the table that Xtb_Create hands out.
void Xtb_FillOps(struct XtbOps *pOps);

// Report readers and the upgrade progress slot (the rest are commands).
int32_t Xtb_GetUpgradeProgress(uint8_t *pProgress);
int32_t Xtb_PopImuPosition(int16_t *pPitch, int16_t *pRoll, int16_t *pYaw);
int32_t Xtb_PopMotorValue(int16_t *pPitch, int16_t *pRoll, int16_t *pYaw);
int32_t Xtb_PopEvent(uint8_t *pType, uint8_t *pValue);
int32_t Xtb_GetBmsReport(uint16_t *pVoltage, uint16_t *pTemperature, uint16_t *pCurrent, uint16_t *pRemain);

// The whole firmware upgrade of one part behind the board (target id 1 to 10); 0 or -1.
int32_t Xtb_Upgrade(const char *pPath, uint32_t target);
// The upgrade slots: the part's target id, then its success or failure line.
int32_t Xtb_UpgradeGmu(const char *pPath);
int32_t Xtb_UpgradeImu(const char *pPath);
int32_t Xtb_UpgradeEscPitch(const char *pPath);
int32_t Xtb_UpgradeEscYaw(const char *pPath);
int32_t Xtb_UpgradeEscRoll(const char *pPath);
int32_t Xtb_UpgradeBms(const char *pPath);
int32_t Xtb_UpgradeXtb(const char *pPath);
int32_t Xtb_UpgradeJoystick(const char *pPath);
int32_t Xtb_UpgradeFocus(const char *pPath);
int32_t Xtb_UpgradeFocusCtrl(const char *pPath);
// Sends nothing until the receiver's target id is settled with the board.
int32_t Xtb_UpgradeRfrx(const char *pPath);
