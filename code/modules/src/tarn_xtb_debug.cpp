// xtb_debug: the gimbal board console. Each option's argument is a small command: an index into one of the
// tables below, followed by that entry's values.
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <getopt.h>

#include "tarn_commands.h"
#include "tarn_console.h"
#include "tarn_console_words.h"
#include "tarn_time.h"
#include "tarn_xtb.h"
#include "tarn_xtb_debug.h"

namespace {

constexpr const char kOptions[] = "ls:g:v:u:p:";
// Words that fit the handlers' lists: the set handler has room for seven, the others for five.
constexpr size_t kSetWords = 7;
constexpr size_t kOtherWords = 5;
constexpr uint64_t kWatchIdleUs = 100000;
constexpr uint64_t kRecordStepUs = 1000000;

// The operations table of the option being run (XtbDebug_RunOption), used by every handler. Main thread only.
XtbOps *gpOps = nullptr;

// An information line whose body is formatted from a table's format.
__attribute__((format(printf, 1, 2))) void Info(const char *format, ...) {
    char body[256];
    va_list arguments;
    va_start(arguments, format);
    vsnprintf(body, sizeof(body), format, arguments);
    va_end(arguments);
    TARN_INFO("%s", body);
}

using ByteGet = int32_t (*XtbOps::*)(uint8_t *);
using AxesGet = int32_t (*XtbOps::*)(uint8_t *, uint8_t *, uint8_t *);
using SignedAxesGet = int32_t (*XtbOps::*)(int16_t *, int16_t *, int16_t *);
using VersionGet = int32_t (*XtbOps::*)(uint32_t *);
using Upgrade = int32_t (*XtbOps::*)(const char *);

// The variables start at 0 and are printed whether the operation succeeded or not.
void ShowByte(ByteGet get, const char *format) {
    uint8_t value = 0;
    (gpOps->*get)(&value);
    Info(format, value);
}

void ShowAxes(AxesGet get, const char *format) {
    uint8_t pitch = 0, roll = 0, yaw = 0;
    (gpOps->*get)(&pitch, &roll, &yaw);
    Info(format, pitch, roll, yaw);
}

void ShowSignedAxes(SignedAxesGet get, const char *format) {
    int16_t first = 0, second = 0, third = 0;
    (gpOps->*get)(&first, &second, &third);
    Info(format, first, second, third);
}

void ShowSerialNumber(int32_t (*XtbOps::*get)(uint8_t *), const char *label) {
    uint8_t sn[16] = {};
    (gpOps->*get)(sn);
    char bytes[sizeof(sn) * 5 + 1] = {};
    for (size_t index = 0; index < sizeof(sn); ++index) {
        snprintf(bytes + index * 5, sizeof(bytes) - index * 5, "0x%02x ", sn[index]);
    }
    TARN_INFO("%s", label);
    printf("%s\n", bytes);
}

// Watches print a header, then one row per report for ever; the tool is stopped from outside.
template <typename Row> [[noreturn]] void Watch(const char *header, Row row) {
    if (header != nullptr) {
        TARN_INFO("%s", header);
    }
    for (;;) {
        if (!row()) {
            Time_SleepUs(kWatchIdleUs);
        }
    }
}

bool ImuPositionRow() {
    int16_t pitch = 0, roll = 0, yaw = 0;
    if (gpOps->PopImuPosition(&pitch, &roll, &yaw) != 0) {
        return false;
    }
    TARN_INFO("%08d %08d %08d\n", pitch, roll, yaw);
    return true;
}

bool MotorValueRow() {
    int16_t pitch = 0, roll = 0, yaw = 0;
    if (gpOps->PopMotorValue(&pitch, &roll, &yaw) != 0) {
        return false;
    }
    TARN_INFO("%08d %08d %08d\n", pitch, roll, yaw);
    return true;
}

bool EventRow() {
    uint8_t type = 0, value = 0;
    if (gpOps->PopEvent(&type, &value) != 0) {
        return false;
    }
    TARN_INFO("0x%02x    0x%02x\n", type, value);
    return true;
}

bool BmsReportRow() {
    uint16_t voltage = 0, temperature = 0, current = 0, remain = 0;
    if (gpOps->GetBmsReport(&voltage, &temperature, &current, &remain) != 0) {
        return false;
    }
    TARN_INFO("bms data: Voltage=%d mv, Temperature=%d, Current=%d ma, Remain=0x%x mah.\n", voltage, temperature,
              current, remain);
    return true;
}

// ---- set (-s) ----

struct SetRow {
    int index;
    const char *hint; // null: the usage shows the bare index
    const char *description;
    size_t words; // including the index; 0: no values, extra words ignored
    void (*run)(const ConsoleWords &words);

    constexpr WordRule Rule() const { return WordRule::Exactly(words); }
};

// clang-format off
constexpr SetRow kSetRows[] = {
    {1, "[0|1]", "set follow mode", 2, [](const ConsoleWords &w) { gpOps->SetFollowMode(w.U8(1)); }},
    {2, "[0|1]", "set raise mode", 2, [](const ConsoleWords &w) { gpOps->SetRaiseMode(w.U8(1)); }},
    {3, "[0|1]", "set invert mode", 2, [](const ConsoleWords &w) { gpOps->SetInvertMode(w.U8(1)); }},
    {4, "[Pitch -100~100] [Roll -100~100] [Yaw -100~100]", "set imu angle", 4, [](const ConsoleWords &w) {
         gpOps->SetPoseAngle(static_cast<int8_t>(w.U8(1)), static_cast<int8_t>(w.U8(2)), static_cast<int8_t>(w.U8(3)));
     }},
    {5, "[Pitch 0~100] [Roll 0~100] [Yaw 0~100]", "set follow dead zone", 4,
     [](const ConsoleWords &w) { gpOps->SetFollowZone(w.U8(1), w.U8(2), w.U8(3)); }},
    {6, "[Pitch 0~100] [Roll 0~100] [Yaw 0~100]", "set follow speed", 4,
     [](const ConsoleWords &w) { gpOps->SetFollowSpeed(w.U8(1), w.U8(2), w.U8(3)); }},
    {7, "[0|1]", "set motor mode", 2, [](const ConsoleWords &w) { gpOps->SetMotorState(w.U8(1)); }},
    {8, "[0|1]", "set Yaw axis mode", 2, [](const ConsoleWords &w) { gpOps->SetYawAxisMode(w.U8(1)); }},
    {9, "[0|1]", "set mute mode", 2, [](const ConsoleWords &w) { gpOps->SetMuteMode(w.U8(1)); }},
    {10, "[Pitch 0~100] [Roll 0~100] [Yaw 0~100]", "set imu coef", 4,
     [](const ConsoleWords &w) { gpOps->SetCoef(w.U8(1), w.U8(2), w.U8(3)); }},
    {11, "[0|1]", "set RC follow grade", 2, [](const ConsoleWords &w) { gpOps->SetRcMode(w.U8(1)); }},
    {12, "[Pitch 0~100] [Roll 0~100] [Yaw 0~100]", "set RC dead zone", 4,
     [](const ConsoleWords &w) { gpOps->SetRcZone(w.U8(1), w.U8(2), w.U8(3)); }},
    {13, "[Pitch 0~100] [Roll 0~100] [Yaw 0~100]", "set RC coef", 4,
     [](const ConsoleWords &w) { gpOps->SetRcCoef(w.U8(1), w.U8(2), w.U8(3)); }},
    {14, "[Pitch 0~100] [Roll 0~100] [Yaw 0~100]", "set RC coef curve", 4, [](const ConsoleWords &w) {
         gpOps->SetRcCoefCurve(static_cast<uint8_t>(atoi(w.Word(1))), static_cast<uint8_t>(atoi(w.Word(2))),
                               static_cast<uint8_t>(atoi(w.Word(3))));
     }},
    {15, "[0~100]", "set focus coef", 2, [](const ConsoleWords &w) { gpOps->SetFocusCoef(w.U8(1)); }},
    // Four values, as the operation has them (pitch up, pitch down, roll, yaw); the hint is the usage's own.
    {16, "[Pitch 0~100] [Roll 0~100] [Yaw 0~100]", "set RC limit", 5,
     [](const ConsoleWords &w) { gpOps->SetRcLimit(w.U8(1), w.U8(2), w.U8(3), w.U8(4)); }},
    {17, "[Pitch 0~100] [Roll 0~100] [Yaw 0~100]", "set RC slow follow speed", 4,
     [](const ConsoleWords &w) { gpOps->SetRcSlowSpeed(w.U8(1), w.U8(2), w.U8(3)); }},
    {18, "[Pitch 0~100] [Roll 0~100] [Yaw 0~100]", "set RC middle follow speed", 4,
     [](const ConsoleWords &w) { gpOps->SetRcMiddleSpeed(w.U8(1), w.U8(2), w.U8(3)); }},
    {19, "[Pitch 0~100] [Roll 0~100] [Yaw 0~100]", "set RC fast follow speed", 4,
     [](const ConsoleWords &w) { gpOps->SetRcFastSpeed(w.U8(1), w.U8(2), w.U8(3)); }},
    {20, "[0|1]", "set imu correct", 2, [](const ConsoleWords &w) { gpOps->SetCorrect(w.U8(1)); }},
    {21, "[0|1]", "set imu bias", 2, [](const ConsoleWords &w) { gpOps->SetBias(w.U8(1)); }},
    {22, "[0|1]", "set yaw correct", 2, [](const ConsoleWords &w) { gpOps->SetYawCorrect(w.U8(1)); }},
    {23, "[0|1]", "set osd mode", 2, [](const ConsoleWords &w) { gpOps->SetOsdMode(w.U8(1)); }},
    {24, "[0|1]", "set motor curve display", 2, [](const ConsoleWords &w) { gpOps->SetMotorCurve(w.U8(1)); }},
    {25, "[0|1]", "set imu param factory recover", 2, [](const ConsoleWords &w) { gpOps->SetRecover(w.U8(1)); }},
    {26, "[ch1 0~255] ... [ch6 0~255]", "set channel map", 7, [](const ConsoleWords &w) {
         gpOps->SetMapCh(w.U8(1), w.U8(2), w.U8(3), w.U8(4), w.U8(5), w.U8(6));
     }},
    {27, "[step 0~60] [angle 0~180]", "set pan-shot", 3,
     [](const ConsoleWords &w) { gpOps->SetPanShot(w.U8(1), w.U16(2)); }},
    {28, nullptr, "set IMU pose reset", 0, [](const ConsoleWords &) {
         gpOps->SetImuPoseReset();
         TARN_INFO("set imu pose reset.\n");
     }},
    {29, "[0|1]", "set autodyne state", 2, [](const ConsoleWords &w) { gpOps->SetAutodyneState(w.U8(1)); }},
    {30, "[Yaw -1000~1000] [Pitch -1000~1000]", "set imu move", 3, [](const ConsoleWords &w) {
         const int16_t yaw = static_cast<int16_t>(strtol(w.Word(1), nullptr, 0));
         const int16_t pitch = static_cast<int16_t>(strtol(w.Word(2), nullptr, 0));
         gpOps->SetImuMove(yaw, pitch);
         TARN_INFO("set imu move: yaw=%d, pitch=%d.\n", yaw, pitch);
     }},
    {31, "[0|1]", "set shot sound", 2, [](const ConsoleWords &w) { gpOps->SetShotSound(w.U8(1)); }},
    {32, "[0|1]", "set record sound", 2, [](const ConsoleWords &w) { gpOps->SetRecordSound(w.U8(1)); }},
    {33, "[volume 0~100]", "set volume", 2, [](const ConsoleWords &w) { gpOps->SetVolume(w.U8(1)); }},
    {34, "[0|1]", "set wifi state", 2, [](const ConsoleWords &w) { gpOps->SetWifiState(w.U8(1)); }},
    {35, "[1|2|3|4]", "set imu follow grade", 2, [](const ConsoleWords &w) { gpOps->SetFollowGrade(w.U8(1)); }},
    {36, "[0~100]", "set mic volume", 2, [](const ConsoleWords &w) { gpOps->SetMicVolume(w.U8(1)); }},
    {37, "[0|1]", "set speek mute", 2, [](const ConsoleWords &w) { gpOps->SetMute(w.U8(1)); }},
    {38, "[min 0~60] [angle 0~360] [dir 1~4]", "set delay shot", 4,
     [](const ConsoleWords &w) { gpOps->SetDelayShot(w.U8(1), w.U16(2), w.U8(3)); }},
    {39, nullptr, "start delay shot", 0, [](const ConsoleWords &) { gpOps->StartDelayShot(); }},
    {40, nullptr, "stop delay shot", 0, [](const ConsoleWords &) { gpOps->StopDelayShot(); }},
    {41, nullptr, "stop pan shot", 0, [](const ConsoleWords &) { gpOps->StopPanShot(); }},
    {42, "[type 0~255] [val 0~255]", "put event to mcu", 3,
     [](const ConsoleWords &w) { gpOps->PutEvent(w.U8(1), w.U8(2)); }},
};
// clang-format on

// ---- get (-g) ----

struct GetRow {
    int index;
    const char *description;
    size_t minWords; // words the entry reads, index included
    void (*run)(const ConsoleWords &words);

    constexpr WordRule Rule() const { return WordRule::AtLeast(minWords); }
};

// clang-format off
constexpr GetRow kGetRows[] = {
    {1, "get follow mode", 1, [](const ConsoleWords &) { ShowByte(&XtbOps::GetFollowMode, "follow mode: %d.\n"); }},
    {2, "get raise mode", 1, [](const ConsoleWords &) { ShowByte(&XtbOps::GetRaiseMode, "raise mode: %d.\n"); }},
    {3, "get invert mode", 1, [](const ConsoleWords &) { ShowByte(&XtbOps::GetInvertMode, "invert mode: %d.\n"); }},
    {4, "get follow dead zone", 1, [](const ConsoleWords &) {
         ShowAxes(&XtbOps::GetFollowZone, "follow dead zone: Pitch=%d, Roll=%d, Yaw=%d.\n");
     }},
    {5, "get follow speed", 1, [](const ConsoleWords &) {
         ShowAxes(&XtbOps::GetFollowSpeed, "follow speed: Pitch=%d, Roll=%d, Yaw=%d.\n");
     }},
    {6, "get motor state", 1, [](const ConsoleWords &) { ShowByte(&XtbOps::GetMotorState, "motor state: %d.\n"); }},
    {7, "get Yaw axis mode", 1,
     [](const ConsoleWords &) { ShowByte(&XtbOps::GetYawAxisMode, "Yaw axis mode: %d.\n"); }},
    {8, "get mute mode", 1, [](const ConsoleWords &) { ShowByte(&XtbOps::GetMuteMode, "mute mode: %d.\n"); }},
    {9, "get imu coef", 1,
     [](const ConsoleWords &) { ShowAxes(&XtbOps::GetCoef, "imu coef: Pitch=%d, Roll=%d, Yaw=%d.\n"); }},
    {10, "get RC follow grade", 1,
     [](const ConsoleWords &) { ShowByte(&XtbOps::GetRcMode, "RC follow grade: %d.\n"); }},
    {11, "get RC dead zone", 1,
     [](const ConsoleWords &) { ShowAxes(&XtbOps::GetRcZone, "RC dead zone: Pitch=%d, Roll=%d, Yaw=%d.\n"); }},
    {12, "get RC coef", 1,
     [](const ConsoleWords &) { ShowAxes(&XtbOps::GetRcCoef, "RC coef: Pitch=%d, Roll=%d, Yaw=%d.\n"); }},
    {13, "get RC coef curve", 1, [](const ConsoleWords &) {
         ShowAxes(&XtbOps::GetRcCoefCurve, "RC coef curve: Pitch=%d, Roll=%d, Yaw=%d.\n");
     }},
    {14, "get focus coef", 1, [](const ConsoleWords &) { ShowByte(&XtbOps::GetFocusCoef, "focus coef: %d.\n"); }},
    {15, "get RC limit", 1, [](const ConsoleWords &) {
         uint8_t pitchUp = 0, pitchDown = 0, roll = 0, yaw = 0;
         gpOps->GetRcLimit(&pitchUp, &pitchDown, &roll, &yaw);
         TARN_INFO("RC limit: PitchUp=%d, PitchDown=%d, Roll=%d, Yaw=%d.\n", pitchUp, pitchDown, roll, yaw);
     }},
    {16, "get RC slow follow speed", 1, [](const ConsoleWords &) {
         ShowAxes(&XtbOps::GetRcSlowSpeed, "RC slow follow speed: Pitch=%d, Roll=%d, Yaw=%d.\n");
     }},
    {17, "get RC middle follow speed", 1, [](const ConsoleWords &) {
         ShowAxes(&XtbOps::GetRcMiddleSpeed, "RC middle follow speed: Pitch=%d, Roll=%d, Yaw=%d.\n");
     }},
    {18, "get RC fast follow speed", 1, [](const ConsoleWords &) {
         ShowAxes(&XtbOps::GetRcFastSpeed, "RC fast follow speed: Pitch=%d, Roll=%d, Yaw=%d.\n");
     }},
    {19, "get imu param correct", 1,
     [](const ConsoleWords &) { ShowByte(&XtbOps::GetCorrect, "imu param correct: %d.\n"); }},
    {20, "get imu param correct progress", 1,
     [](const ConsoleWords &) { ShowByte(&XtbOps::GetCorrectProg, "imu param correct progress: %d.\n"); }},
    {21, "get imu bias", 1, [](const ConsoleWords &) { ShowByte(&XtbOps::GetBias, "imu bias: %d.\n"); }},
    {22, "get imu bias progress", 1,
     [](const ConsoleWords &) { ShowByte(&XtbOps::GetBiasProg, "imu bias progress: %d.\n"); }},
    {23, "get yaw correct", 1, [](const ConsoleWords &) { ShowByte(&XtbOps::GetYawCorrect, "Yaw correct: %d.\n"); }},
    {24, "get osd mode", 1, [](const ConsoleWords &) { ShowByte(&XtbOps::GetOsdMode, "osd mode: %d.\n"); }},
    {25, "get motor curve display mode", 1,
     [](const ConsoleWords &) { ShowByte(&XtbOps::GetMotorCurve, "motor state: %d.\n"); }},
    {26, "get motor value", 1, [](const ConsoleWords &) {
         ShowSignedAxes(&XtbOps::GetMotorValue, "motor value: Pitch=%d, Roll=%d, Yaw=%d.\n");
     }},
    {27, "get imu param factory recover", 1,
     [](const ConsoleWords &) { ShowByte(&XtbOps::GetRecover, "recover state: %d.\n"); }},
    {28, "get imu position", 1, [](const ConsoleWords &) {
         ShowSignedAxes(&XtbOps::GetPosition, "imu position: Pitch=%d, Roll=%d, Yaw=%d.\n");
     }},
    {29, "get focus position", 1, [](const ConsoleWords &) {
         ShowSignedAxes(&XtbOps::GetFocusPosition, "focus position: pos=%d, min=%d, max=%d.\n");
     }},
    {30, "get bms information", 1, [](const ConsoleWords &) {
         uint16_t count = 0, fullVol = 0, designVol = 0;
         uint32_t version = 0;
         gpOps->GetBmsInfo(&count, &fullVol, &designVol, &version);
         TARN_INFO("bms info: Cnt=%d, FullVol=%d, DesignVol=%d, Ver=0x%x.\n", count, fullVol, designVol, version);
     }},
    {31, "get bms data", 1, [](const ConsoleWords &) {
         uint16_t voltage = 0, temperature = 0, current = 0, remain = 0;
         gpOps->GetBmsData(&voltage, &temperature, &current, &remain);
         TARN_INFO("bms data: Voltage=%d mv, Temperature=%d, Current=%d ma, Remain=0x%x mah.\n", voltage,
                   temperature, current, remain);
     }},
    {32, "get channel map", 1, [](const ConsoleWords &) {
         uint8_t ch[6] = {};
         gpOps->GetMapCh(&ch[0], &ch[1], &ch[2], &ch[3], &ch[4], &ch[5]);
         TARN_INFO("map ch: ch1=0x%x, ch2=0x%x, ch3=0x%x, ch4=0x%x, ch5=0x%x, ch6=0x%x, .\n", ch[0], ch[1], ch[2],
                   ch[3], ch[4], ch[5]);
     }},
    {33, "get cam state", 1, [](const ConsoleWords &) { ShowByte(&XtbOps::GetCamState, "cam state: %d.\n"); }},
    {34, "get aotudyne state", 1,
     [](const ConsoleWords &) { ShowByte(&XtbOps::GetAutodyneState, "autodyne state: %d.\n"); }},
    {35, "get imu work state", 1,
     [](const ConsoleWords &) { ShowByte(&XtbOps::GetImuWorkState, "imu work state: %d.\n"); }},
    {36, "get pan shot state", 1, [](const ConsoleWords &) {
         ShowAxes(&XtbOps::GetPanShotState, "pan shot state=%d, total step=%d, current step=%d.\n");
     }},
    {37, "get overheat state", 1, [](const ConsoleWords &) {
         ShowAxes(&XtbOps::GetOverheatState, "imu overheat state: Pitch=%d, Roll=%d, Yaw=%d.\n");
     }},
    {38, "get center state", 1, [](const ConsoleWords &) {
         ShowAxes(&XtbOps::GetCenterState, "imu center state: Pitch=%d, Roll=%d, Yaw=%d.\n");
     }},
    {39, "get payload state", 1, [](const ConsoleWords &) {
         ShowAxes(&XtbOps::GetPayloadState, "imu payload state: Pitch=%d, Roll=%d, Yaw=%d.\n");
     }},
    {40, "get autodyne mode", 1,
     [](const ConsoleWords &) { ShowByte(&XtbOps::GetAutodyneMode, "autodyne mode: %d.\n"); }},
    {41, "get power state", 1, [](const ConsoleWords &) { ShowByte(&XtbOps::GetPowerState, "power state: %d.\n"); }},
    {42, "get pose angle", 1, [](const ConsoleWords &) {
         int8_t pitch = 0, roll = 0, yaw = 0;
         gpOps->GetPoseAngle(&pitch, &roll, &yaw);
         TARN_INFO("pose angle: pitch=%d, roll=%d, yaw=%d.\n", pitch, roll, yaw);
     }},
    {43, "get RC information", 1, [](const ConsoleWords &) {
         uint8_t state = 0, rfValue = 0, videoValue = 0, rcVol = 0;
         gpOps->GetRcInfo(&state, &rfValue, &videoValue, &rcVol);
         TARN_INFO("RC information: State=%d, RfVal=%d, VideoVal=%d, RcVol=%d\n", state, rfValue, videoValue, rcVol);
     }},
    {44, "get RC channel", 2, [](const ConsoleWords &w) {
         uint16_t value = 0;
         gpOps->GetRcChannel(w.U8(1), &value);
         TARN_INFO("RC channel val=0x%x\n", value);
     }},
    {45, "get IMU init state", 1,
     [](const ConsoleWords &) { ShowByte(&XtbOps::GetImuInitState, "IMU init state=%d.\n"); }},
    {46, "get RC follow grade", 1,
     [](const ConsoleWords &) { ShowByte(&XtbOps::GetRcFollowGrade, "RC follow grade: %d.\n"); }},
    {47, "get shot sound state", 1,
     [](const ConsoleWords &) { ShowByte(&XtbOps::GetShotSound, "shot sound state: %d.\n"); }},
    {48, "get record sound state", 1,
     [](const ConsoleWords &) { ShowByte(&XtbOps::GetRecordSound, "record sound state: %d.\n"); }},
    {49, "get gps info", 1, [](const ConsoleWords &) {
         uint8_t number = 0, value = 0;
         gpOps->GetGpsInfo(&number, &value);
         TARN_INFO("gps info: num=%d, val=%d.\n", number, value);
     }},
    {50, "get move speed", 1, [](const ConsoleWords &) { ShowByte(&XtbOps::GetMoveSpeed, "move speed: %d.\n"); }},
    {51, "get wifi recovery init password key state", 1,
     [](const ConsoleWords &) { ShowByte(&XtbOps::GetWifiRecovery, "wifi Recovery state: %d.\n"); }},
    {52, "get imu follow grade", 1,
     [](const ConsoleWords &) { ShowByte(&XtbOps::GetFollowGrade, "imu follow grade: %d.\n"); }},
    {53, "get speek valume", 1, [](const ConsoleWords &) { ShowByte(&XtbOps::GetVolume, "speek volume: %d.\n"); }},
    {54, "get mic valume", 1, [](const ConsoleWords &) { ShowByte(&XtbOps::GetMicVolume, "mic volume: %d.\n"); }},
    {55, "get speek mute state", 1, [](const ConsoleWords &) { ShowByte(&XtbOps::GetMute, "mute state: %d.\n"); }},
    {56, "get delay shot", 1, [](const ConsoleWords &) {
         uint16_t seconds = 0;
         uint8_t state = 0;
         gpOps->GetDelayShot(&seconds, &state);
         TARN_INFO("delay shot: sec=%d, state=%d.\n", seconds, state);
     }},
    {57, "get event type", 1, [](const ConsoleWords &) {
         uint8_t type = 0, value = 0;
         gpOps->GetEvent(&type, &value);
         TARN_INFO("event type: 0x%x, val:0x%x.\n", type, value);
     }},
    {58, "get report imu position data", 1,
     [](const ConsoleWords &) { Watch("Pitch    Roll     Yaw     \n", ImuPositionRow); }},
    {59, "get report motor value data", 1,
     [](const ConsoleWords &) { Watch("Pitch    Roll     Yaw     \n", MotorValueRow); }},
    {60, "get report event data", 1, [](const ConsoleWords &) { Watch("Type    Val    \n", EventRow); }},
    {61, "get report bms data", 1, [](const ConsoleWords &) { Watch(nullptr, BmsReportRow); }},
    {62, "get imu serial number", 1, [](const ConsoleWords &) { ShowSerialNumber(&XtbOps::GetImuSn, "imu sn: "); }},
    {63, "get gmu serial number", 1, [](const ConsoleWords &) { ShowSerialNumber(&XtbOps::GetGmuSn, "gmu sn: "); }},
    // The receive thread records the board's log meanwhile.
    {64, "record log", 1, [](const ConsoleWords &) {
         TARN_INFO("begin to record log ...\n");
         for (;;) {
             Time_SleepUs(kRecordStepUs);
         }
     }},
};
// clang-format on

// ---- put (-p) ----

// clang-format off
constexpr SetRow kPutRows[] = {
    {1, nullptr, "put shot done", 0, [](const ConsoleWords &) { gpOps->PutShotDone(); }},
    {2, "[0|1]", "put shot state", 2, [](const ConsoleWords &w) { gpOps->PutShotState(w.U8(1)); }},
    {3, "[0|1]", "put record state", 2, [](const ConsoleWords &w) { gpOps->PutRecordState(w.U8(1)); }},
    {4, "[0|1]", "put sd card state", 2, [](const ConsoleWords &w) { gpOps->PutSdcardState(w.U8(1)); }},
};
// clang-format on

// ---- version (-v) ----

struct VersionRow {
    int index;
    const char *description;
    VersionGet get;
    const char *format;

    static constexpr WordRule Rule() { return WordRule::Any(); }
};

constexpr VersionRow kVersionRows[] = {
    {1, "get imu hardware version", &XtbOps::GetImuHwVer, "IMU HW version: 0x%08x\n"},
    {2, "get imu firmware version", &XtbOps::GetImuFwVer, "IMU FW version: 0x%08x\n"},
    {3, "get imu bootload version", &XtbOps::GetImuBlVer, "IMU BL version: 0x%08x\n"},
    {4, "get imu board version", &XtbOps::GetImuBoardVer, "IMU board version: 0x%08x\n"},
    {5, "get gmu hardware version", &XtbOps::GetGmuHwVer, "GMU HW version: 0x%08x\n"},
    {6, "get gmu firmware version", &XtbOps::GetGmuFwVer, "GMU FW version: 0x%08x\n"},
    {7, "get gmu bootload version", &XtbOps::GetGmuBlVer, "GMU BL version: 0x%08x\n"},
    {8, "get gmu board version", &XtbOps::GetGmuBoardVer, "GMU board version: 0x%08x\n"},
};

// ---- upgrade (-u) ----

struct UpgradeRow {
    int index;
    const char *description;
    Upgrade upgrade;

    // The path is the second word; words after it are ignored, as for every entry without a word count.
    // Without a path nothing is sent: the part would be erased before the missing file showed.
    static constexpr WordRule Rule() { return WordRule::TextAt(1); }
};

constexpr UpgradeRow kUpgradeRows[] = {
    {1, "upgrade gmu", &XtbOps::UpgradeGmu},
    {2, "upgrade imu", &XtbOps::UpgradeImu},
    {3, "upgrade esc pitch", &XtbOps::UpgradeEscPitch},
    {4, "upgrade esc yaw", &XtbOps::UpgradeEscYaw},
    {5, "upgrade esc roll", &XtbOps::UpgradeEscRoll},
    {6, "upgrade bms", &XtbOps::UpgradeBms},
    {7, "upgrade xtb", &XtbOps::UpgradeXtb},
    {8, "upgrade joystick", &XtbOps::UpgradeJoystick},
    {9, "upgrade focus", &XtbOps::UpgradeFocus},
    {10, "upgrade focus ctrl", &XtbOps::UpgradeFocusCtrl},
    {11, "upgrade rfrx", &XtbOps::UpgradeRfrx},
};

// ---- usage ----

// "    eg: " before a table's first example, eight blanks before the others.
const char *ExamplePrefix(bool first) {
    return first ? "    eg: " : "        ";
}

template <size_t kCount> void PrintValueExamples(const char *option, const SetRow (&rows)[kCount]) {
    char line[160];
    for (size_t row = 0; row < kCount; ++row) {
        if (rows[row].hint != nullptr) {
            snprintf(line, sizeof(line), "%sxtb_debug %s '%d %s', %s", ExamplePrefix(row == 0), option, rows[row].index,
                     rows[row].hint, rows[row].description);
        } else {
            snprintf(line, sizeof(line), "%sxtb_debug %s %d, %s", ExamplePrefix(row == 0), option, rows[row].index,
                     rows[row].description);
        }
        puts(line);
    }
}

template <typename Row, size_t kCount> void PrintIndexExamples(const char *option, const Row (&rows)[kCount]) {
    char line[160];
    for (size_t row = 0; row < kCount; ++row) {
        snprintf(line, sizeof(line), "%sxtb_debug %s %d, %s", ExamplePrefix(row == 0), option, rows[row].index,
                 rows[row].description);
        puts(line);
    }
}

void PrintUsage() {
    puts("usage: ");
    puts("| ");
    puts("-- -l, loop test ");
    puts("    eg: xtb_debug -l ");
    puts("-- -s, set command ");
    PrintValueExamples("-s", kSetRows);
    puts("-- -g, get command ");
    PrintIndexExamples("-g", kGetRows);
    puts("-- -p, put command ");
    PrintValueExamples("-p", kPutRows);
    puts("-- -v, version command ");
    PrintIndexExamples("-v", kVersionRows);
    puts("-- -u, upgrade command ");
    char line[160];
    for (size_t row = 0; row < sizeof(kUpgradeRows) / sizeof(kUpgradeRows[0]); ++row) {
        snprintf(line, sizeof(line), "%sxtb_debug -u '%d [file_path]', %s", ExamplePrefix(row == 0),
                 kUpgradeRows[row].index, kUpgradeRows[row].description);
        puts(line);
    }
    puts("-- -h, this usage ");
}

// ---- handlers ----

int Xtb_HandleSetCmd(const char *pArgument) {
    return ConsoleWords_Handle(pArgument, kSetWords, kSetRows, UnknownIndex::Warn);
}

int Xtb_HandleGetCmd(const char *pArgument) {
    return ConsoleWords_Handle(pArgument, kOtherWords, kGetRows, UnknownIndex::Warn);
}

int Xtb_HandlePutCmd(const char *pArgument) {
    return ConsoleWords_Handle(pArgument, kOtherWords, kPutRows, UnknownIndex::Ignore);
}

int Xtb_HandleVersionCmd(const char *pArgument) {
    return ConsoleWords_Handle(pArgument, kOtherWords, kVersionRows, UnknownIndex::Ignore,
                               [](const VersionRow &row, const ConsoleWords &) {
                                   uint32_t version = 0;
                                   (gpOps->*row.get)(&version);
                                   Info(row.format, version);
                               });
}

int Xtb_HandleUpgradeCmd(const char *pArgument) {
    return ConsoleWords_Handle(
        pArgument, kOtherWords, kUpgradeRows, UnknownIndex::Ignore,
        [](const UpgradeRow &row, const ConsoleWords &words) { (gpOps->*row.upgrade)(words.Word(1)); });
}

} // namespace

void XtbDebug_RunOption(XtbOps *pOps, int option, const char *pArgument) {
    gpOps = pOps;
    switch (option) {
        case 'l':
            gpOps->LoopTest();
            break;
        case 's':
            Xtb_HandleSetCmd(pArgument);
            break;
        case 'g':
            Xtb_HandleGetCmd(pArgument);
            break;
        case 'p':
            Xtb_HandlePutCmd(pArgument);
            break;
        case 'v':
            Xtb_HandleVersionCmd(pArgument);
            break;
        case 'u':
            Xtb_HandleUpgradeCmd(pArgument);
            break;
        default:
            break;
    }
}

int Main_XtbDebug(int argc, char *argv[]) {
    if (argc < 2) {
        PrintUsage();
        return 0;
    }
    XtbOps *pOps = nullptr;
    if (Xtb_Create(&pOps) != 0) {
        TARN_ERR("xtb create fail.\n");
        return -1;
    }
    int option = 0;
    while ((option = getopt(argc, argv, kOptions)) != -1) {
        XtbDebug_RunOption(pOps, option, optarg);
    }
    Xtb_Delete(&pOps);
    gpOps = nullptr;
    return 0;
}
