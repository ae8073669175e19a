// The gimbal board's command catalogue as data: for every XtbOps slot its command byte, request payload,
// reply layout, time-out and whether the board confirms it. The operations are driven by these tables; the
// bench's simulator keeps its own, so that a wrong row here fails the exchange tests.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

enum class XtbField : uint8_t {
    U8,    // unchanged byte
    Flag,  // 1 when the caller's value is non-zero
    I8,    // two's complement byte
    U16Le, // low byte first
    I16Le,
    U32Be, // most significant byte first
    Sn16,  // sixteen bytes copied as they are
};

inline constexpr size_t kXtbFieldsMax = 6;

struct XtbLayout {
    uint8_t count = 0;
    std::array<XtbField, kXtbFieldsMax> fields{};
};

template <typename... Fields> constexpr XtbLayout Layout(Fields... fields) {
    return XtbLayout{static_cast<uint8_t>(sizeof...(Fields)), {fields...}};
}

constexpr size_t XtbFieldSize(XtbField field) {
    switch (field) {
        case XtbField::U16Le:
        case XtbField::I16Le:
            return 2;
        case XtbField::U32Be:
            return 4;
        case XtbField::Sn16:
            return 16;
        default:
            return 1;
    }
}

constexpr size_t XtbLayoutSize(const XtbLayout &layout) {
    size_t size = 0;
    for (size_t index = 0; index < layout.count; ++index) {
        size += XtbFieldSize(layout.fields[index]);
    }
    return size;
}

inline constexpr uint16_t kXtbTimeoutMs = 2000;

// A setting the board keeps: the set request and the get reply share a layout unless getLayout is given.
struct XtbSetting {
    uint8_t setSlot;
    uint8_t setCmd;
    uint8_t getSlot;
    uint8_t getCmd;
    XtbLayout layout;
    XtbLayout getLayout = {};
    uint16_t setTimeoutMs = kXtbTimeoutMs;
    // The board's acknowledgement carries byte 0: 0 refused, anything else accepted.
    bool confirmed = false;
};

namespace xtb_layout {
inline constexpr XtbField U8 = XtbField::U8;
inline constexpr XtbField Flag = XtbField::Flag;
inline constexpr XtbField I8 = XtbField::I8;
inline constexpr XtbField U16 = XtbField::U16Le;
inline constexpr XtbField I16 = XtbField::I16Le;
inline constexpr XtbField U32 = XtbField::U32Be;
inline constexpr XtbField Sn = XtbField::Sn16;
inline constexpr XtbLayout kNone = Layout();
inline constexpr XtbLayout kByte = Layout(U8);
inline constexpr XtbLayout kFlag = Layout(Flag);
inline constexpr XtbLayout kAxes = Layout(U8, U8, U8);
inline constexpr XtbLayout kSignedAxes16 = Layout(I16, I16, I16);
inline constexpr XtbLayout kVersion = Layout(U32);
} // namespace xtb_layout

// clang-format off
inline constexpr std::array<XtbSetting, 34> kXtbSettings = {{
    // set slot, cmd, get slot, cmd, layout
    {1, 0x03, 39, 0x83, xtb_layout::kByte},                                   // follow mode
    {2, 0x04, 40, 0x84, xtb_layout::kFlag},                                   // raise mode
    {3, 0x05, 41, 0x85, xtb_layout::kFlag},                                   // invert mode
    {4, 0x06, 42, 0x86, Layout(xtb_layout::I8, xtb_layout::I8, xtb_layout::I8)}, // pose angle
    {5, 0x07, 43, 0x87, xtb_layout::kAxes},                                   // follow dead zone
    {6, 0x08, 44, 0x88, xtb_layout::kAxes},                                   // follow speed
    {7, 0x09, 45, 0x89, xtb_layout::kFlag},                                   // motor state
    {8, 0x0A, 46, 0x8A, xtb_layout::kFlag},                                   // yaw axis mode
    {9, 0x0B, 47, 0x8B, xtb_layout::kFlag},                                   // mute mode
    {10, 0x0C, 48, 0x8C, xtb_layout::kAxes},                                  // IMU coefficient
    {11, 0x0D, 49, 0x8D, xtb_layout::kFlag},                                  // RC mode
    {110, 0x0E, 111, 0x8E, xtb_layout::kByte},                                // follow grade
    {12, 0x15, 50, 0x95, xtb_layout::kAxes},                                  // RC dead zone
    {13, 0x16, 51, 0x96, xtb_layout::kAxes},                                  // RC coefficient
    {14, 0x17, 52, 0x97, xtb_layout::kAxes},                                  // RC coefficient curve
    {15, 0x18, 53, 0x98, xtb_layout::kByte},                                  // focus coefficient
    {16, 0x19, 54, 0x99, Layout(xtb_layout::U8, xtb_layout::U8, xtb_layout::U8, xtb_layout::U8)}, // RC limit
    {17, 0x1A, 55, 0x9A, xtb_layout::kAxes},                                  // RC slow follow speed
    {18, 0x1B, 56, 0x9B, xtb_layout::kAxes},                                  // RC middle follow speed
    {19, 0x1C, 57, 0x9C, xtb_layout::kAxes},                                  // RC fast follow speed
    {20, 0x1E, 59, 0x9E, xtb_layout::kByte},                                  // IMU correction
    {21, 0x20, 61, 0xA0, xtb_layout::kByte},                                  // IMU bias
    {22, 0x22, 63, 0xA2, xtb_layout::kByte},                                  // yaw correction
    {23, 0x28, 64, 0xA8, xtb_layout::kFlag},                                  // OSD mode
    {24, 0x29, 65, 0xA9, xtb_layout::kFlag},                                  // motor curve display
    {25, 0x2B, 67, 0xAB, xtb_layout::kFlag},                                  // factory recovery
    {26, 0x35, 75, 0xB5, Layout(xtb_layout::U8, xtb_layout::U8, xtb_layout::U8,
                                xtb_layout::U8, xtb_layout::U8, xtb_layout::U8)}, // channel map
    {28, 0x3C, 78, 0xBC, xtb_layout::kFlag, {}, kXtbTimeoutMs, true},         // autodyne state
    {35, 0x56, 85, 0xD8, xtb_layout::kFlag},                                  // shot sound
    {36, 0x57, 86, 0xD9, xtb_layout::kFlag},                                  // record sound
    {37, 0x58, 114, 0xD1, xtb_layout::kByte},                                 // speaker volume
    {112, 0x60, 115, 0xDD, xtb_layout::kByte},                                // microphone volume
    {113, 0x61, 116, 0xDE, xtb_layout::kFlag},                                // speaker mute
    {117, 0x62, 120, 0xDF, Layout(xtb_layout::U8, xtb_layout::U16, xtb_layout::U8),
     Layout(xtb_layout::U16, xtb_layout::U8), 5000},                          // delay shot: minutes, angle, direction
}};
// clang-format on

// A command without a partner: its request and what its acknowledgement carries.
struct XtbCommand {
    uint8_t slot;
    uint8_t cmd;
    XtbLayout request;
    XtbLayout reply;
    bool confirmed = false;
};

// clang-format off
inline constexpr std::array<XtbCommand, 46> kXtbCommands = {{
    {0, 0x01, xtb_layout::kNone, xtb_layout::kNone},                           // loop test
    {27, 0x3D, xtb_layout::kNone, xtb_layout::kNone, true},                    // IMU pose reset
    {29, 0x3E, Layout(xtb_layout::U8, xtb_layout::U16), xtb_layout::kNone},    // pan shot: step, angle
    {121, 0x3F, xtb_layout::kNone, xtb_layout::kNone},                         // stop pan shot
    {118, 0x63, xtb_layout::kNone, xtb_layout::kNone},                         // start delay shot
    {119, 0x64, xtb_layout::kNone, xtb_layout::kNone},                         // stop delay shot
    {34, 0x55, Layout(xtb_layout::I16, xtb_layout::I16), xtb_layout::kNone},   // IMU move: yaw, pitch
    {38, 0x59, xtb_layout::kFlag, xtb_layout::kNone},                          // wifi state
    {122, 0x50, Layout(xtb_layout::U8, xtb_layout::U8), xtb_layout::kNone},    // put event: type, value
    {30, 0x51, xtb_layout::kNone, xtb_layout::kNone},                          // put shot done
    {31, 0x52, xtb_layout::kFlag, xtb_layout::kNone},                          // put shot state
    {32, 0x53, xtb_layout::kFlag, xtb_layout::kNone},                          // put record state
    {33, 0x54, xtb_layout::kFlag, xtb_layout::kNone},                          // put SD card state
    {58, 0x9D, xtb_layout::kNone, xtb_layout::kByte},                          // RC follow grade
    {60, 0x9F, xtb_layout::kNone, xtb_layout::kByte},                          // correction progress
    {62, 0xA1, xtb_layout::kNone, xtb_layout::kByte},                          // bias progress
    {66, 0xAA, xtb_layout::kNone, xtb_layout::kSignedAxes16},                  // motor value
    {68, 0xAD, xtb_layout::kNone, xtb_layout::kSignedAxes16},                  // IMU position
    {69, 0xAE, xtb_layout::kNone, xtb_layout::kSignedAxes16},                  // focus position, minimum, maximum
    {70, 0xAF, xtb_layout::kNone, Layout(xtb_layout::U16, xtb_layout::U16, xtb_layout::U16, xtb_layout::U32)}, // bms info
    {71, 0xB0, xtb_layout::kNone, Layout(xtb_layout::U16, xtb_layout::U16, xtb_layout::U16, xtb_layout::U16)}, // bms data
    {72, 0xB2, xtb_layout::kNone, xtb_layout::kAxes},                          // overheat state
    {73, 0xB3, xtb_layout::kNone, xtb_layout::kAxes},                          // center state
    {74, 0xB4, xtb_layout::kNone, xtb_layout::kAxes},                          // payload state
    {76, 0xB9, xtb_layout::kNone, xtb_layout::kByte},                          // IMU init state
    {123, 0xBE, xtb_layout::kNone, Layout(xtb_layout::U8, xtb_layout::U8)},    // event: type, value
    {77, 0xD0, xtb_layout::kNone, xtb_layout::kByte},                          // camera state
    {79, 0xD2, xtb_layout::kNone, xtb_layout::kByte},                          // IMU work state
    {80, 0xD3, xtb_layout::kNone, xtb_layout::kAxes},                          // pan shot: state, total, current
    {81, 0xD4, xtb_layout::kNone, xtb_layout::kByte},                          // autodyne mode
    {82, 0xD5, xtb_layout::kNone, xtb_layout::kByte},                          // power state
    {83, 0xD6, xtb_layout::kNone, Layout(xtb_layout::U8, xtb_layout::U8, xtb_layout::U8, xtb_layout::U8)}, // RC info
    {84, 0xD7, xtb_layout::kByte, Layout(xtb_layout::U16)},                    // RC channel
    {87, 0xDA, xtb_layout::kNone, Layout(xtb_layout::U8, xtb_layout::U8)},     // GPS: number, value
    {88, 0xDB, xtb_layout::kNone, xtb_layout::kByte},                          // move speed
    {89, 0xDC, xtb_layout::kNone, xtb_layout::kByte},                          // wifi recovery
    {90, 0xE0, xtb_layout::kNone, xtb_layout::kVersion},                       // IMU hardware version
    {91, 0xE1, xtb_layout::kNone, xtb_layout::kVersion},                       // IMU firmware version
    {92, 0xE2, xtb_layout::kNone, xtb_layout::kVersion},                       // IMU boot loader version
    {93, 0xE3, xtb_layout::kNone, xtb_layout::kVersion},                       // IMU board version
    {94, 0xE4, xtb_layout::kNone, xtb_layout::kVersion},                       // GMU hardware version
    {95, 0xE5, xtb_layout::kNone, xtb_layout::kVersion},                       // GMU firmware version
    {96, 0xE6, xtb_layout::kNone, xtb_layout::kVersion},                       // GMU boot loader version
    {97, 0xE7, xtb_layout::kNone, xtb_layout::kVersion},                       // GMU board version
    {128, 0xE8, xtb_layout::kNone, Layout(xtb_layout::Sn)},                    // IMU serial number
    {129, 0xE9, xtb_layout::kNone, Layout(xtb_layout::Sn)},                    // GMU serial number
}};
// clang-format on

// What one XtbOps slot sends and decodes.
struct XtbOpRow {
    bool found = false;
    uint8_t cmd = 0;
    XtbLayout request;
    XtbLayout reply;
    uint16_t timeoutMs = kXtbTimeoutMs;
    bool confirmed = false;
};

constexpr XtbOpRow XtbOpOfSlot(size_t slot) {
    for (const XtbSetting &setting : kXtbSettings) {
        if (setting.setSlot == slot) {
            return {true, setting.setCmd, setting.layout, xtb_layout::kNone, setting.setTimeoutMs, setting.confirmed};
        }
        if (setting.getSlot == slot) {
            const XtbLayout reply = setting.getLayout.count != 0 ? setting.getLayout : setting.layout;
            return {true, setting.getCmd, xtb_layout::kNone, reply, kXtbTimeoutMs, false};
        }
    }
    for (const XtbCommand &command : kXtbCommands) {
        if (command.slot == slot) {
            return {true, command.cmd, command.request, command.reply, kXtbTimeoutMs, command.confirmed};
        }
    }
    return {};
}
