// The gimbal board's operations: one named entry per XtbOps slot over the shared transaction, each entry's
// command byte, payload and reply layout taken from the catalogue tables.
#include <array>
#include <cstring>

#include "tarn_byte_order.h"
#include "tarn_console.h"
#include "tarn_xtb.h"
#include "tarn_xtb_catalogue.h"
#include "tarn_xtb_link.h"

namespace {

size_t PackFields(const XtbLayout &layout, const uint32_t *pValues, uint8_t *pPayload) {
    size_t used = 0;
    for (size_t index = 0; index < layout.count; ++index) {
        const uint32_t value = pValues[index];
        switch (layout.fields[index]) {
            case XtbField::Flag:
                pPayload[used++] = value != 0 ? 1 : 0;
                break;
            case XtbField::U16Le:
            case XtbField::I16Le:
                tarn::StoreLe16(pPayload + used, static_cast<uint16_t>(value));
                used += 2;
                break;
            case XtbField::U32Be:
                tarn::StoreBe32(pPayload + used, value);
                used += 4;
                break;
            default:
                pPayload[used++] = static_cast<uint8_t>(value);
                break;
        }
    }
    return used;
}

// Fields are read from payload byte 0 on; the reply record was zero-filled, so a short reply reads as 0.
void UnpackFields(const XtbLayout &layout, const uint8_t *pPayload, uint32_t *pValues) {
    for (size_t index = 0; index < layout.count; ++index) {
        switch (layout.fields[index]) {
            case XtbField::U16Le:
                pValues[index] = tarn::LoadLe16(pPayload);
                break;
            case XtbField::I16Le:
                pValues[index] = static_cast<uint32_t>(static_cast<int16_t>(tarn::LoadLe16(pPayload)));
                break;
            case XtbField::U32Be:
                pValues[index] = tarn::LoadBe32(pPayload);
                break;
            case XtbField::I8:
                pValues[index] = pPayload[0] >= 0x80 ? pPayload[0] | 0xFFFFFF00u : pPayload[0]; // sign-extended
                break;
            default:
                pValues[index] = pPayload[0];
                break;
        }
        pPayload += XtbFieldSize(layout.fields[index]);
    }
}

int32_t RunOp(const XtbOpRow &row, const uint32_t *pValues, MlinkMsg *pReply) {
    uint8_t payload[kXtbFieldsMax * 4];
    const size_t length = PackFields(row.request, pValues, payload);
    if (Xtb_Link().Transact(row.cmd, payload, static_cast<uint8_t>(length), row.timeoutMs, pReply) != 0) {
        return -1;
    }
    return row.confirmed && pReply->payload[0] == 0 ? -1 : 0;
}

template <size_t kSlot, typename... Values> int32_t Send(Values... values) {
    constexpr XtbOpRow row = XtbOpOfSlot(kSlot);
    static_assert(row.found && row.request.count == sizeof...(Values) && row.reply.count == 0, "catalogue row");
    const std::array<uint32_t, sizeof...(Values) + 1> raw = {static_cast<uint32_t>(values)..., 0};
    MlinkMsg reply;
    return RunOp(row, raw.data(), &reply);
}

template <typename... Outs> constexpr bool OutsFit(const XtbLayout &layout) {
    constexpr std::array<size_t, sizeof...(Outs)> sizes = {sizeof(Outs)...};
    if (layout.count != sizes.size()) {
        return false;
    }
    for (size_t index = 0; index < sizes.size(); ++index) {
        if (XtbFieldSize(layout.fields[index]) != sizes[index]) {
            return false;
        }
    }
    return true;
}

template <size_t kSlot, typename... Outs> int32_t Query(const uint32_t *pRequest, Outs *...pOuts) {
    constexpr XtbOpRow row = XtbOpOfSlot(kSlot);
    static_assert(row.found && OutsFit<Outs...>(row.reply), "catalogue row");
    MlinkMsg reply;
    if (RunOp(row, pRequest, &reply) != 0) {
        return -1;
    }
    std::array<uint32_t, kXtbFieldsMax> values{};
    UnpackFields(row.reply, reply.payload, values.data());
    size_t index = 0;
    ((*pOuts = static_cast<Outs>(values[index++])), ...);
    return 0;
}

template <size_t kSlot, typename... Outs> int32_t Get(Outs *...pOuts) {
    static_assert(XtbOpOfSlot(kSlot).request.count == 0, "catalogue row");
    return Query<kSlot>(nullptr, pOuts...);
}

template <size_t kSlot> int32_t GetSerialNumber(uint8_t *pSn) {
    constexpr XtbOpRow row = XtbOpOfSlot(kSlot);
    static_assert(row.found && row.reply.count == 1 && row.reply.fields[0] == XtbField::Sn16, "catalogue row");
    MlinkMsg reply;
    if (RunOp(row, nullptr, &reply) != 0) {
        return -1;
    }
    memcpy(pSn, reply.payload, XtbFieldSize(XtbField::Sn16));
    return 0;
}

} // namespace

int32_t Xtb_LoopTest() {
    return Send<0>();
}
int32_t Xtb_SetFollowMode(uint8_t mode) {
    return Send<1>(mode);
}
int32_t Xtb_SetRaiseMode(uint8_t flag) {
    return Send<2>(flag);
}
int32_t Xtb_SetInvertMode(uint8_t flag) {
    return Send<3>(flag);
}
int32_t Xtb_SetPoseAngle(int8_t pitch, int8_t roll, int8_t yaw) {
    return Send<4>(pitch, roll, yaw);
}
int32_t Xtb_SetFollowZone(uint8_t pitch, uint8_t roll, uint8_t yaw) {
    return Send<5>(pitch, roll, yaw);
}
int32_t Xtb_SetFollowSpeed(uint8_t pitch, uint8_t roll, uint8_t yaw) {
    return Send<6>(pitch, roll, yaw);
}
int32_t Xtb_SetMotorState(uint8_t flag) {
    return Send<7>(flag);
}
int32_t Xtb_SetYawAxisMode(uint8_t flag) {
    return Send<8>(flag);
}
int32_t Xtb_SetMuteMode(uint8_t flag) {
    return Send<9>(flag);
}
int32_t Xtb_SetCoef(uint8_t pitch, uint8_t roll, uint8_t yaw) {
    return Send<10>(pitch, roll, yaw);
}
int32_t Xtb_SetRcMode(uint8_t flag) {
    return Send<11>(flag);
}
int32_t Xtb_SetRcZone(uint8_t pitch, uint8_t roll, uint8_t yaw) {
    return Send<12>(pitch, roll, yaw);
}
int32_t Xtb_SetRcCoef(uint8_t pitch, uint8_t roll, uint8_t yaw) {
    return Send<13>(pitch, roll, yaw);
}
int32_t Xtb_SetRcCoefCurve(uint8_t pitch, uint8_t roll, uint8_t yaw) {
    return Send<14>(pitch, roll, yaw);
}
int32_t Xtb_SetFocusCoef(uint8_t coef) {
    return Send<15>(coef);
}
int32_t Xtb_SetRcLimit(uint8_t pitchUp, uint8_t pitchDown, uint8_t roll, uint8_t yaw) {
    return Send<16>(pitchUp, pitchDown, roll, yaw);
}
int32_t Xtb_SetRcSlowSpeed(uint8_t pitch, uint8_t roll, uint8_t yaw) {
    return Send<17>(pitch, roll, yaw);
}
int32_t Xtb_SetRcMiddleSpeed(uint8_t pitch, uint8_t roll, uint8_t yaw) {
    return Send<18>(pitch, roll, yaw);
}
int32_t Xtb_SetRcFastSpeed(uint8_t pitch, uint8_t roll, uint8_t yaw) {
    return Send<19>(pitch, roll, yaw);
}
int32_t Xtb_SetCorrect(uint8_t value) {
    return Send<20>(value);
}
int32_t Xtb_SetBias(uint8_t value) {
    return Send<21>(value);
}
int32_t Xtb_SetYawCorrect(uint8_t value) {
    return Send<22>(value);
}
int32_t Xtb_SetOsdMode(uint8_t flag) {
    return Send<23>(flag);
}
int32_t Xtb_SetMotorCurve(uint8_t flag) {
    return Send<24>(flag);
}
int32_t Xtb_SetRecover(uint8_t flag) {
    return Send<25>(flag);
}
int32_t Xtb_SetMapCh(uint8_t ch1, uint8_t ch2, uint8_t ch3, uint8_t ch4, uint8_t ch5, uint8_t ch6) {
    return Send<26>(ch1, ch2, ch3, ch4, ch5, ch6);
}
int32_t Xtb_SetImuPoseReset() {
    constexpr XtbOpRow row = XtbOpOfSlot(27);
    MlinkMsg reply;
    if (Xtb_Link().Transact(row.cmd, nullptr, 0, row.timeoutMs, &reply) != 0) {
        return -1;
    }
    if (reply.payload[0] == 0) {
        TARN_ERR("set imu pose reset fail.\n");
        return -1;
    }
    return 0;
}
int32_t Xtb_SetAutodyneState(uint8_t flag) {
    return Send<28>(flag);
}
int32_t Xtb_SetPanShot(uint8_t step, uint16_t angle) {
    return Send<29>(step, angle);
}
int32_t Xtb_PutShotDone() {
    return Send<30>();
}
int32_t Xtb_PutShotState(uint8_t flag) {
    return Send<31>(flag);
}
int32_t Xtb_PutRecordState(uint8_t flag) {
    return Send<32>(flag);
}
int32_t Xtb_PutSdcardState(uint8_t flag) {
    return Send<33>(flag);
}
int32_t Xtb_SetImuMove(int16_t yaw, int16_t pitch) {
    return Send<34>(yaw, pitch);
}
int32_t Xtb_SetShotSound(uint8_t flag) {
    return Send<35>(flag);
}
int32_t Xtb_SetRecordSound(uint8_t flag) {
    return Send<36>(flag);
}
int32_t Xtb_SetVolume(uint8_t volume) {
    return Send<37>(volume);
}
int32_t Xtb_SetWifiState(uint8_t flag) {
    return Send<38>(flag);
}
int32_t Xtb_GetFollowMode(uint8_t *pMode) {
    return Get<39>(pMode);
}
int32_t Xtb_GetRaiseMode(uint8_t *pFlag) {
    return Get<40>(pFlag);
}
int32_t Xtb_GetInvertMode(uint8_t *pFlag) {
    return Get<41>(pFlag);
}
int32_t Xtb_GetPoseAngle(int8_t *pPitch, int8_t *pRoll, int8_t *pYaw) {
    return Get<42>(pPitch, pRoll, pYaw);
}
int32_t Xtb_GetFollowZone(uint8_t *pPitch, uint8_t *pRoll, uint8_t *pYaw) {
    return Get<43>(pPitch, pRoll, pYaw);
}
int32_t Xtb_GetFollowSpeed(uint8_t *pPitch, uint8_t *pRoll, uint8_t *pYaw) {
    return Get<44>(pPitch, pRoll, pYaw);
}
int32_t Xtb_GetMotorState(uint8_t *pFlag) {
    return Get<45>(pFlag);
}
int32_t Xtb_GetYawAxisMode(uint8_t *pFlag) {
    return Get<46>(pFlag);
}
int32_t Xtb_GetMuteMode(uint8_t *pFlag) {
    return Get<47>(pFlag);
}
int32_t Xtb_GetCoef(uint8_t *pPitch, uint8_t *pRoll, uint8_t *pYaw) {
    return Get<48>(pPitch, pRoll, pYaw);
}
int32_t Xtb_GetRcMode(uint8_t *pFlag) {
    return Get<49>(pFlag);
}
int32_t Xtb_GetRcZone(uint8_t *pPitch, uint8_t *pRoll, uint8_t *pYaw) {
    return Get<50>(pPitch, pRoll, pYaw);
}
int32_t Xtb_GetRcCoef(uint8_t *pPitch, uint8_t *pRoll, uint8_t *pYaw) {
    return Get<51>(pPitch, pRoll, pYaw);
}
int32_t Xtb_GetRcCoefCurve(uint8_t *pPitch, uint8_t *pRoll, uint8_t *pYaw) {
    return Get<52>(pPitch, pRoll, pYaw);
}
int32_t Xtb_GetFocusCoef(uint8_t *pCoef) {
    return Get<53>(pCoef);
}
int32_t Xtb_GetRcLimit(uint8_t *pPitchUp, uint8_t *pPitchDown, uint8_t *pRoll, uint8_t *pYaw) {
    return Get<54>(pPitchUp, pPitchDown, pRoll, pYaw);
}
int32_t Xtb_GetRcSlowSpeed(uint8_t *pPitch, uint8_t *pRoll, uint8_t *pYaw) {
    return Get<55>(pPitch, pRoll, pYaw);
}
int32_t Xtb_GetRcMiddleSpeed(uint8_t *pPitch, uint8_t *pRoll, uint8_t *pYaw) {
    return Get<56>(pPitch, pRoll, pYaw);
}
int32_t Xtb_GetRcFastSpeed(uint8_t *pPitch, uint8_t *pRoll, uint8_t *pYaw) {
    return Get<57>(pPitch, pRoll, pYaw);
}
int32_t Xtb_GetRcFollowGrade(uint8_t *pGrade) {
    return Get<58>(pGrade);
}
int32_t Xtb_GetCorrect(uint8_t *pValue) {
    return Get<59>(pValue);
}
int32_t Xtb_GetCorrectProg(uint8_t *pProgress) {
    return Get<60>(pProgress);
}
int32_t Xtb_GetBias(uint8_t *pValue) {
    return Get<61>(pValue);
}
int32_t Xtb_GetBiasProg(uint8_t *pProgress) {
    return Get<62>(pProgress);
}
int32_t Xtb_GetYawCorrect(uint8_t *pValue) {
    return Get<63>(pValue);
}
int32_t Xtb_GetOsdMode(uint8_t *pFlag) {
    return Get<64>(pFlag);
}
int32_t Xtb_GetMotorCurve(uint8_t *pFlag) {
    return Get<65>(pFlag);
}
int32_t Xtb_GetMotorValue(int16_t *pPitch, int16_t *pRoll, int16_t *pYaw) {
    return Get<66>(pPitch, pRoll, pYaw);
}
int32_t Xtb_GetRecover(uint8_t *pFlag) {
    return Get<67>(pFlag);
}
int32_t Xtb_GetPosition(int16_t *pPitch, int16_t *pRoll, int16_t *pYaw) {
    return Get<68>(pPitch, pRoll, pYaw);
}
int32_t Xtb_GetFocusPosition(int16_t *pPosition, int16_t *pMinimum, int16_t *pMaximum) {
    return Get<69>(pPosition, pMinimum, pMaximum);
}
int32_t Xtb_GetBmsInfo(uint16_t *pCount, uint16_t *pFullVol, uint16_t *pDesignVol, uint32_t *pVersion) {
    return Get<70>(pCount, pFullVol, pDesignVol, pVersion);
}
int32_t Xtb_GetBmsData(uint16_t *pVoltage, uint16_t *pTemperature, uint16_t *pCurrent, uint16_t *pRemain) {
    return Get<71>(pVoltage, pTemperature, pCurrent, pRemain);
}
int32_t Xtb_GetOverheatState(uint8_t *pPitch, uint8_t *pRoll, uint8_t *pYaw) {
    return Get<72>(pPitch, pRoll, pYaw);
}
int32_t Xtb_GetCenterState(uint8_t *pPitch, uint8_t *pRoll, uint8_t *pYaw) {
    return Get<73>(pPitch, pRoll, pYaw);
}
int32_t Xtb_GetPayloadState(uint8_t *pPitch, uint8_t *pRoll, uint8_t *pYaw) {
    return Get<74>(pPitch, pRoll, pYaw);
}
int32_t Xtb_GetMapCh(uint8_t *pCh1, uint8_t *pCh2, uint8_t *pCh3, uint8_t *pCh4, uint8_t *pCh5, uint8_t *pCh6) {
    return Get<75>(pCh1, pCh2, pCh3, pCh4, pCh5, pCh6);
}
int32_t Xtb_GetImuInitState(uint8_t *pState) {
    return Get<76>(pState);
}
int32_t Xtb_GetCamState(uint8_t *pState) {
    return Get<77>(pState);
}
int32_t Xtb_GetAutodyneState(uint8_t *pFlag) {
    return Get<78>(pFlag);
}
int32_t Xtb_GetImuWorkState(uint8_t *pState) {
    return Get<79>(pState);
}
int32_t Xtb_GetPanShotState(uint8_t *pState, uint8_t *pTotalSteps, uint8_t *pCurrentStep) {
    return Get<80>(pState, pTotalSteps, pCurrentStep);
}
int32_t Xtb_GetAutodyneMode(uint8_t *pMode) {
    return Get<81>(pMode);
}
int32_t Xtb_GetPowerState(uint8_t *pState) {
    return Get<82>(pState);
}
int32_t Xtb_GetRcInfo(uint8_t *pState, uint8_t *pRfValue, uint8_t *pVideoValue, uint8_t *pRcVol) {
    return Get<83>(pState, pRfValue, pVideoValue, pRcVol);
}
int32_t Xtb_GetRcChannel(uint8_t channel, uint16_t *pValue) {
    const uint32_t request[] = {channel};
    return Query<84>(request, pValue);
}
int32_t Xtb_GetShotSound(uint8_t *pFlag) {
    return Get<85>(pFlag);
}
int32_t Xtb_GetRecordSound(uint8_t *pFlag) {
    return Get<86>(pFlag);
}
int32_t Xtb_GetGpsInfo(uint8_t *pNumber, uint8_t *pValue) {
    return Get<87>(pNumber, pValue);
}
int32_t Xtb_GetMoveSpeed(uint8_t *pSpeed) {
    return Get<88>(pSpeed);
}
int32_t Xtb_GetWifiRecovery(uint8_t *pState) {
    return Get<89>(pState);
}
int32_t Xtb_GetImuHwVer(uint32_t *pVersion) {
    return Get<90>(pVersion);
}
int32_t Xtb_GetImuFwVer(uint32_t *pVersion) {
    return Get<91>(pVersion);
}
int32_t Xtb_GetImuBlVer(uint32_t *pVersion) {
    return Get<92>(pVersion);
}
int32_t Xtb_GetImuBoardVer(uint32_t *pVersion) {
    return Get<93>(pVersion);
}
int32_t Xtb_GetGmuHwVer(uint32_t *pVersion) {
    return Get<94>(pVersion);
}
int32_t Xtb_GetGmuFwVer(uint32_t *pVersion) {
    return Get<95>(pVersion);
}
int32_t Xtb_GetGmuBlVer(uint32_t *pVersion) {
    return Get<96>(pVersion);
}
int32_t Xtb_GetGmuBoardVer(uint32_t *pVersion) {
    return Get<97>(pVersion);
}
int32_t Xtb_SetFollowGrade(uint8_t grade) {
    return Send<110>(grade);
}
int32_t Xtb_GetFollowGrade(uint8_t *pGrade) {
    return Get<111>(pGrade);
}
int32_t Xtb_SetMicVolume(uint8_t volume) {
    return Send<112>(volume);
}
int32_t Xtb_SetMute(uint8_t flag) {
    return Send<113>(flag);
}
int32_t Xtb_GetVolume(uint8_t *pVolume) {
    return Get<114>(pVolume);
}
int32_t Xtb_GetMicVolume(uint8_t *pVolume) {
    return Get<115>(pVolume);
}
int32_t Xtb_GetMute(uint8_t *pFlag) {
    return Get<116>(pFlag);
}
int32_t Xtb_SetDelayShot(uint8_t minutes, uint16_t angle, uint8_t direction) {
    return Send<117>(minutes, angle, direction);
}
int32_t Xtb_StartDelayShot() {
    return Send<118>();
}
int32_t Xtb_StopDelayShot() {
    return Send<119>();
}
int32_t Xtb_GetDelayShot(uint16_t *pSeconds, uint8_t *pState) {
    return Get<120>(pSeconds, pState);
}
int32_t Xtb_StopPanShot() {
    return Send<121>();
}
int32_t Xtb_PutEvent(uint8_t type, uint8_t value) {
    return Send<122>(type, value);
}
int32_t Xtb_GetEvent(uint8_t *pType, uint8_t *pValue) {
    return Get<123>(pType, pValue);
}
int32_t Xtb_GetImuSn(uint8_t *pSn) {
    return GetSerialNumber<128>(pSn);
}
int32_t Xtb_GetGmuSn(uint8_t *pSn) {
    return GetSerialNumber<129>(pSn);
}

void Xtb_FillOps(XtbOps *pOps) {
    XtbOps &ops = *pOps;
    ops = XtbOps{};
// Every slot is given the entry of its own name: reordering XtbOps cannot hand a slot another operation.
#define XTB_OP(slot) ops.slot = Xtb_##slot
    XTB_OP(LoopTest);
    XTB_OP(SetFollowMode);
    XTB_OP(SetRaiseMode);
    XTB_OP(SetInvertMode);
    XTB_OP(SetPoseAngle);
    XTB_OP(SetFollowZone);
    XTB_OP(SetFollowSpeed);
    XTB_OP(SetMotorState);
    XTB_OP(SetYawAxisMode);
    XTB_OP(SetMuteMode);
    XTB_OP(SetCoef);
    XTB_OP(SetRcMode);
    XTB_OP(SetRcZone);
    XTB_OP(SetRcCoef);
    XTB_OP(SetRcCoefCurve);
    XTB_OP(SetFocusCoef);
    XTB_OP(SetRcLimit);
    XTB_OP(SetRcSlowSpeed);
    XTB_OP(SetRcMiddleSpeed);
    XTB_OP(SetRcFastSpeed);
    XTB_OP(SetCorrect);
    XTB_OP(SetBias);
    XTB_OP(SetYawCorrect);
    XTB_OP(SetOsdMode);
    XTB_OP(SetMotorCurve);
    XTB_OP(SetRecover);
    XTB_OP(SetMapCh);
    XTB_OP(SetImuPoseReset);
    XTB_OP(SetAutodyneState);
    XTB_OP(SetPanShot);
    XTB_OP(PutShotDone);
    XTB_OP(PutShotState);
    XTB_OP(PutRecordState);
    XTB_OP(PutSdcardState);
    XTB_OP(SetImuMove);
    XTB_OP(SetShotSound);
    XTB_OP(SetRecordSound);
    XTB_OP(SetVolume);
    XTB_OP(SetWifiState);
    XTB_OP(GetFollowMode);
    XTB_OP(GetRaiseMode);
    XTB_OP(GetInvertMode);
    XTB_OP(GetPoseAngle);
    XTB_OP(GetFollowZone);
    XTB_OP(GetFollowSpeed);
    XTB_OP(GetMotorState);
    XTB_OP(GetYawAxisMode);
    XTB_OP(GetMuteMode);
    XTB_OP(GetCoef);
    XTB_OP(GetRcMode);
    XTB_OP(GetRcZone);
    XTB_OP(GetRcCoef);
    XTB_OP(GetRcCoefCurve);
    XTB_OP(GetFocusCoef);
    XTB_OP(GetRcLimit);
    XTB_OP(GetRcSlowSpeed);
    XTB_OP(GetRcMiddleSpeed);
    XTB_OP(GetRcFastSpeed);
    XTB_OP(GetRcFollowGrade);
    XTB_OP(GetCorrect);
    XTB_OP(GetCorrectProg);
    XTB_OP(GetBias);
    XTB_OP(GetBiasProg);
    XTB_OP(GetYawCorrect);
    XTB_OP(GetOsdMode);
    XTB_OP(GetMotorCurve);
    XTB_OP(GetMotorValue);
    XTB_OP(GetRecover);
    XTB_OP(GetPosition);
    XTB_OP(GetFocusPosition);
    XTB_OP(GetBmsInfo);
    XTB_OP(GetBmsData);
    XTB_OP(GetOverheatState);
    XTB_OP(GetCenterState);
    XTB_OP(GetPayloadState);
    XTB_OP(GetMapCh);
    XTB_OP(GetImuInitState);
    XTB_OP(GetCamState);
    XTB_OP(GetAutodyneState);
    XTB_OP(GetImuWorkState);
    XTB_OP(GetPanShotState);
    XTB_OP(GetAutodyneMode);
    XTB_OP(GetPowerState);
    XTB_OP(GetRcInfo);
    XTB_OP(GetRcChannel);
    XTB_OP(GetShotSound);
    XTB_OP(GetRecordSound);
    XTB_OP(GetGpsInfo);
    XTB_OP(GetMoveSpeed);
    XTB_OP(GetWifiRecovery);
    XTB_OP(GetImuHwVer);
    XTB_OP(GetImuFwVer);
    XTB_OP(GetImuBlVer);
    XTB_OP(GetImuBoardVer);
    XTB_OP(GetGmuHwVer);
    XTB_OP(GetGmuFwVer);
    XTB_OP(GetGmuBlVer);
    XTB_OP(GetGmuBoardVer);
    XTB_OP(UpgradeGmu);
    XTB_OP(UpgradeImu);
    XTB_OP(UpgradeEscPitch);
    XTB_OP(UpgradeEscYaw);
    XTB_OP(UpgradeEscRoll);
    XTB_OP(UpgradeBms);
    XTB_OP(UpgradeXtb);
    XTB_OP(UpgradeJoystick);
    XTB_OP(UpgradeFocus);
    XTB_OP(UpgradeFocusCtrl);
    XTB_OP(UpgradeRfrx);
    XTB_OP(GetUpgradeProgress);
    XTB_OP(SetFollowGrade);
    XTB_OP(GetFollowGrade);
    XTB_OP(SetMicVolume);
    XTB_OP(SetMute);
    XTB_OP(GetVolume);
    XTB_OP(GetMicVolume);
    XTB_OP(GetMute);
    XTB_OP(SetDelayShot);
    XTB_OP(StartDelayShot);
    XTB_OP(StopDelayShot);
    XTB_OP(GetDelayShot);
    XTB_OP(StopPanShot);
    XTB_OP(PutEvent);
    XTB_OP(GetEvent);
    XTB_OP(PopImuPosition);
    XTB_OP(PopMotorValue);
    XTB_OP(PopEvent);
    XTB_OP(GetBmsReport);
    XTB_OP(GetImuSn);
    XTB_OP(GetGmuSn);
#undef XTB_OP
}
