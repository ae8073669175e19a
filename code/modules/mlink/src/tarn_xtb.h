// The gimbal board connection: a process-wide link over mlink (device id 0x05) with the board's reports, and
// the operations table through which every caller reaches the board's commands.
#pragma once

#include <cstddef>
#include <cstdint>

// One slot per operation, in slot order (the slot number is the member's position). Each returns 0 or -1
// and writes its results through its pointers only on success.
struct XtbOps {
    int32_t (*LoopTest)();
    int32_t (*SetFollowMode)(uint8_t mode);
    int32_t (*SetRaiseMode)(uint8_t flag);
    int32_t (*SetInvertMode)(uint8_t flag);
    int32_t (*SetPoseAngle)(int8_t pitch, int8_t roll, int8_t yaw);
    int32_t (*SetFollowZone)(uint8_t pitch, uint8_t roll, uint8_t yaw);
    int32_t (*SetFollowSpeed)(uint8_t pitch, uint8_t roll, uint8_t yaw);
    int32_t (*SetMotorState)(uint8_t flag);
    int32_t (*SetYawAxisMode)(uint8_t flag);
    int32_t (*SetMuteMode)(uint8_t flag);
    int32_t (*SetCoef)(uint8_t pitch, uint8_t roll, uint8_t yaw);
    int32_t (*SetRcMode)(uint8_t flag);
    int32_t (*SetRcZone)(uint8_t pitch, uint8_t roll, uint8_t yaw);
    int32_t (*SetRcCoef)(uint8_t pitch, uint8_t roll, uint8_t yaw);
    int32_t (*SetRcCoefCurve)(uint8_t pitch, uint8_t roll, uint8_t yaw);
    int32_t (*SetFocusCoef)(uint8_t coef);
    int32_t (*SetRcLimit)(uint8_t pitchUp, uint8_t pitchDown, uint8_t roll, uint8_t yaw);
    int32_t (*SetRcSlowSpeed)(uint8_t pitch, uint8_t roll, uint8_t yaw);
    int32_t (*SetRcMiddleSpeed)(uint8_t pitch, uint8_t roll, uint8_t yaw);
    int32_t (*SetRcFastSpeed)(uint8_t pitch, uint8_t roll, uint8_t yaw);
    int32_t (*SetCorrect)(uint8_t value);
    int32_t (*SetBias)(uint8_t value);
    int32_t (*SetYawCorrect)(uint8_t value);
    int32_t (*SetOsdMode)(uint8_t flag);
    int32_t (*SetMotorCurve)(uint8_t flag);
    int32_t (*SetRecover)(uint8_t flag);
    int32_t (*SetMapCh)(uint8_t ch1, uint8_t ch2, uint8_t ch3, uint8_t ch4, uint8_t ch5, uint8_t ch6);
    int32_t (*SetImuPoseReset)();
    int32_t (*SetAutodyneState)(uint8_t flag);
    int32_t (*SetPanShot)(uint8_t step, uint16_t angle);
    int32_t (*PutShotDone)();
    int32_t (*PutShotState)(uint8_t flag);
    int32_t (*PutRecordState)(uint8_t flag);
    int32_t (*PutSdcardState)(uint8_t flag);
    int32_t (*SetImuMove)(int16_t yaw, int16_t pitch);
    int32_t (*SetShotSound)(uint8_t flag);
    int32_t (*SetRecordSound)(uint8_t flag);
    int32_t (*SetVolume)(uint8_t volume);
    int32_t (*SetWifiState)(uint8_t flag);
    int32_t (*GetFollowMode)(uint8_t *pMode);
    int32_t (*GetRaiseMode)(uint8_t *pFlag);
    int32_t (*GetInvertMode)(uint8_t *pFlag);
    int32_t (*GetPoseAngle)(int8_t *pPitch, int8_t *pRoll, int8_t *pYaw);
    int32_t (*GetFollowZone)(uint8_t *pPitch, uint8_t *pRoll, uint8_t *pYaw);
    int32_t (*GetFollowSpeed)(uint8_t *pPitch, uint8_t *pRoll, uint8_t *pYaw);
    int32_t (*GetMotorState)(uint8_t *pFlag);
    int32_t (*GetYawAxisMode)(uint8_t *pFlag);
    int32_t (*GetMuteMode)(uint8_t *pFlag);
    int32_t (*GetCoef)(uint8_t *pPitch, uint8_t *pRoll, uint8_t *pYaw);
    int32_t (*GetRcMode)(uint8_t *pFlag);
    int32_t (*GetRcZone)(uint8_t *pPitch, uint8_t *pRoll, uint8_t *pYaw);
    int32_t (*GetRcCoef)(uint8_t *pPitch, uint8_t *pRoll, uint8_t *pYaw);
    int32_t (*GetRcCoefCurve)(uint8_t *pPitch, uint8_t *pRoll, uint8_t *pYaw);
    int32_t (*GetFocusCoef)(uint8_t *pCoef);
    int32_t (*GetRcLimit)(uint8_t *pPitchUp, uint8_t *pPitchDown, uint8_t *pRoll, uint8_t *pYaw);
    int32_t (*GetRcSlowSpeed)(uint8_t *pPitch, uint8_t *pRoll, uint8_t *pYaw);
    int32_t (*GetRcMiddleSpeed)(uint8_t *pPitch, uint8_t *pRoll, uint8_t *pYaw);
    int32_t (*GetRcFastSpeed)(uint8_t *pPitch, uint8_t *pRoll, uint8_t *pYaw);
    int32_t (*GetRcFollowGrade)(uint8_t *pGrade);
    int32_t (*GetCorrect)(uint8_t *pValue);
    int32_t (*GetCorrectProg)(uint8_t *pProgress);
    int32_t (*GetBias)(uint8_t *pValue);
    int32_t (*GetBiasProg)(uint8_t *pProgress);
    int32_t (*GetYawCorrect)(uint8_t *pValue);
    int32_t (*GetOsdMode)(uint8_t *pFlag);
    int32_t (*GetMotorCurve)(uint8_t *pFlag);
    int32_t (*GetMotorValue)(int16_t *pPitch, int16_t *pRoll, int16_t *pYaw);
    int32_t (*GetRecover)(uint8_t *pFlag);
    int32_t (*GetPosition)(int16_t *pPitch, int16_t *pRoll, int16_t *pYaw);
    int32_t (*GetFocusPosition)(int16_t *pPosition, int16_t *pMinimum, int16_t *pMaximum);
    int32_t (*GetBmsInfo)(uint16_t *pCount, uint16_t *pFullVol, uint16_t *pDesignVol, uint32_t *pVersion);
    int32_t (*GetBmsData)(uint16_t *pVoltage, uint16_t *pTemperature, uint16_t *pCurrent, uint16_t *pRemain);
    int32_t (*GetOverheatState)(uint8_t *pPitch, uint8_t *pRoll, uint8_t *pYaw);
    int32_t (*GetCenterState)(uint8_t *pPitch, uint8_t *pRoll, uint8_t *pYaw);
    int32_t (*GetPayloadState)(uint8_t *pPitch, uint8_t *pRoll, uint8_t *pYaw);
    int32_t (*GetMapCh)(uint8_t *pCh1, uint8_t *pCh2, uint8_t *pCh3, uint8_t *pCh4, uint8_t *pCh5, uint8_t *pCh6);
    int32_t (*GetImuInitState)(uint8_t *pState);
    int32_t (*GetCamState)(uint8_t *pState);
    int32_t (*GetAutodyneState)(uint8_t *pFlag);
    int32_t (*GetImuWorkState)(uint8_t *pState);
    int32_t (*GetPanShotState)(uint8_t *pState, uint8_t *pTotalSteps, uint8_t *pCurrentStep);
    int32_t (*GetAutodyneMode)(uint8_t *pMode);
    int32_t (*GetPowerState)(uint8_t *pState);
    int32_t (*GetRcInfo)(uint8_t *pState, uint8_t *pRfValue, uint8_t *pVideoValue, uint8_t *pRcVol);
    int32_t (*GetRcChannel)(uint8_t channel, uint16_t *pValue);
    int32_t (*GetShotSound)(uint8_t *pFlag);
    int32_t (*GetRecordSound)(uint8_t *pFlag);
    int32_t (*GetGpsInfo)(uint8_t *pNumber, uint8_t *pValue);
    int32_t (*GetMoveSpeed)(uint8_t *pSpeed);
    int32_t (*GetWifiRecovery)(uint8_t *pState);
    int32_t (*GetImuHwVer)(uint32_t *pVersion);
    int32_t (*GetImuFwVer)(uint32_t *pVersion);
    int32_t (*GetImuBlVer)(uint32_t *pVersion);
    int32_t (*GetImuBoardVer)(uint32_t *pVersion);
    int32_t (*GetGmuHwVer)(uint32_t *pVersion);
    int32_t (*GetGmuFwVer)(uint32_t *pVersion);
    int32_t (*GetGmuBlVer)(uint32_t *pVersion);
    int32_t (*GetGmuBoardVer)(uint32_t *pVersion);
    int32_t (*UpgradeGmu)(const char *pPath);
    int32_t (*UpgradeImu)(const char *pPath);
    int32_t (*UpgradeEscPitch)(const char *pPath);
    int32_t (*UpgradeEscYaw)(const char *pPath);
    int32_t (*UpgradeEscRoll)(const char *pPath);
    int32_t (*UpgradeBms)(const char *pPath);
    int32_t (*UpgradeXtb)(const char *pPath);
    int32_t (*UpgradeJoystick)(const char *pPath);
    int32_t (*UpgradeFocus)(const char *pPath);
    int32_t (*UpgradeFocusCtrl)(const char *pPath);
    int32_t (*UpgradeRfrx)(const char *pPath);
    int32_t (*GetUpgradeProgress)(uint8_t *pProgress);
    int32_t (*SetFollowGrade)(uint8_t grade);
    int32_t (*GetFollowGrade)(uint8_t *pGrade);
    int32_t (*SetMicVolume)(uint8_t volume);
    int32_t (*SetMute)(uint8_t flag);
    int32_t (*GetVolume)(uint8_t *pVolume);
    int32_t (*GetMicVolume)(uint8_t *pVolume);
    int32_t (*GetMute)(uint8_t *pFlag);
    int32_t (*SetDelayShot)(uint8_t minutes, uint16_t angle, uint8_t direction);
    int32_t (*StartDelayShot)();
    int32_t (*StopDelayShot)();
    int32_t (*GetDelayShot)(uint16_t *pSeconds, uint8_t *pState);
    int32_t (*StopPanShot)();
    int32_t (*PutEvent)(uint8_t type, uint8_t value);
    int32_t (*GetEvent)(uint8_t *pType, uint8_t *pValue);
    int32_t (*PopImuPosition)(int16_t *pPitch, int16_t *pRoll, int16_t *pYaw);
    int32_t (*PopMotorValue)(int16_t *pPitch, int16_t *pRoll, int16_t *pYaw);
    int32_t (*PopEvent)(uint8_t *pType, uint8_t *pValue);
    int32_t (*GetBmsReport)(uint16_t *pVoltage, uint16_t *pTemperature, uint16_t *pCurrent, uint16_t *pRemain);
    // pSn: sixteen bytes.
    int32_t (*GetImuSn)(uint8_t *pSn);
    int32_t (*GetGmuSn)(uint8_t *pSn);
};

inline constexpr size_t kXtbOpsSlots = 130;
static_assert(sizeof(XtbOps) == kXtbOpsSlots * sizeof(void *), "one pointer per slot");

// The first caller opens the link (port by project, five locks, thread "mlink_recv"); later callers share it
// after a second. 0, or -1 after "mlink init fail.".
int32_t Xtb_Create(XtbOps **ppXtb);
// The last caller closes the link; the caller's pointer is cleared.
void Xtb_Delete(XtbOps **ppXtb);
