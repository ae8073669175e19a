#include "tarn_bench_sim_gimbal.h"

#include <algorithm>
#include <cstring>

#include "tarn_byte_order.h"

namespace tarn::bench {

namespace {

// A payload layout, one character per field: 'b' one byte (u8, i8 or flag), 'w' 16 bits low byte first,
// 'L' 32 bits most significant byte first, 'S' a sixteen-byte serial number.
size_t LayoutSize(const char *layout) {
    size_t size = 0;
    for (; *layout != '\0'; ++layout) {
        switch (*layout) {
            case 'w':
                size += 2;
                break;
            case 'L':
                size += 4;
                break;
            case 'S':
                size += 16;
                break;
            default:
                size += 1;
                break;
        }
    }
    return size;
}

// A setting the board keeps: the set command stores the payload, the get command reads it back. The get's
// reply has the set's layout unless getLayout is given.
struct SettingRow {
    uint8_t setCmd;
    uint8_t getCmd;
    const char *layout;
    const char *getLayout;
    // The acknowledgement of the set carries byte 0: 0 refused, 1 accepted.
    bool confirmed;
};

// clang-format off
constexpr SettingRow kSettings[] = {
    {0x03, 0x83, "b", nullptr, false},      // follow mode
    {0x04, 0x84, "b", nullptr, false},      // raise mode
    {0x05, 0x85, "b", nullptr, false},      // invert mode
    {0x06, 0x86, "bbb", nullptr, false},    // pose angle: pitch, roll, yaw (signed)
    {0x07, 0x87, "bbb", nullptr, false},    // follow dead zone
    {0x08, 0x88, "bbb", nullptr, false},    // follow speed
    {0x09, 0x89, "b", nullptr, false},      // motor state
    {0x0A, 0x8A, "b", nullptr, false},      // yaw axis mode
    {0x0B, 0x8B, "b", nullptr, false},      // mute mode
    {0x0C, 0x8C, "bbb", nullptr, false},    // IMU coefficient
    {0x0D, 0x8D, "b", nullptr, false},      // RC mode
    {0x0E, 0x8E, "b", nullptr, false},      // follow grade
    {0x15, 0x95, "bbb", nullptr, false},    // RC dead zone
    {0x16, 0x96, "bbb", nullptr, false},    // RC coefficient
    {0x17, 0x97, "bbb", nullptr, false},    // RC coefficient curve
    {0x18, 0x98, "b", nullptr, false},      // focus coefficient
    {0x19, 0x99, "bbbb", nullptr, false},   // RC limit: pitch up, pitch down, roll, yaw
    {0x1A, 0x9A, "bbb", nullptr, false},    // RC slow follow speed
    {0x1B, 0x9B, "bbb", nullptr, false},    // RC middle follow speed
    {0x1C, 0x9C, "bbb", nullptr, false},    // RC fast follow speed
    {0x1E, 0x9E, "b", nullptr, false},      // IMU correction
    {0x20, 0xA0, "b", nullptr, false},      // IMU bias
    {0x22, 0xA2, "b", nullptr, false},      // yaw correction
    {0x28, 0xA8, "b", nullptr, false},      // OSD mode
    {0x29, 0xA9, "b", nullptr, false},      // motor curve display
    {0x2B, 0xAB, "b", nullptr, false},      // factory recovery of IMU parameters
    {0x35, 0xB5, "bbbbbb", nullptr, false}, // channel map
    {0x3C, 0xBC, "b", nullptr, true},       // autodyne state
    {0x56, 0xD8, "b", nullptr, false},      // shot sound
    {0x57, 0xD9, "b", nullptr, false},      // record sound
    {0x58, 0xD1, "b", nullptr, false},      // speaker volume
    {0x60, 0xDD, "b", nullptr, false},      // microphone volume
    {0x61, 0xDE, "b", nullptr, false},      // speaker mute
    {0x62, 0xDF, "bwb", "wb", false},       // delay shot: minutes, angle, direction; read: seconds, state
};

// A command without a partner: its request and what its acknowledgement carries.
struct CommandRow {
    uint8_t cmd;
    const char *request;
    const char *reply;
    bool confirmed;
};

constexpr CommandRow kCommands[] = {
    {0x01, "", "", false},     // loop test
    {0x3D, "", "", true},      // IMU pose reset
    {0x3E, "bw", "", false},   // pan shot: step, angle
    {0x3F, "", "", false},     // stop pan shot
    {0x63, "", "", false},     // start delay shot
    {0x64, "", "", false},     // stop delay shot
    {0x55, "ww", "", false},   // IMU move: yaw, pitch
    {0x59, "b", "", false},    // wifi state
    {0x50, "bb", "", false},   // put event: type, value
    {0x51, "", "", false},     // put shot done
    {0x52, "b", "", false},    // put shot state
    {0x53, "b", "", false},    // put record state
    {0x54, "b", "", false},    // put SD card state
    {0x9D, "", "b", false},    // RC follow grade
    {0x9F, "", "b", false},    // correction progress
    {0xA1, "", "b", false},    // bias progress
    {0xAA, "", "www", false},  // motor value
    {0xAD, "", "www", false},  // IMU position
    {0xAE, "", "www", false},  // focus position, minimum, maximum
    {0xAF, "", "wwwL", false}, // battery info: count, full, design voltage, version
    {0xB0, "", "wwww", false}, // battery data: voltage, temperature, current, remaining
    {0xB2, "", "bbb", false},  // overheat state
    {0xB3, "", "bbb", false},  // center state
    {0xB4, "", "bbb", false},  // payload state
    {0xB9, "", "b", false},    // IMU init state
    {0xBE, "", "bb", false},   // event: type, value
    {0xD0, "", "b", false},    // camera state
    {0xD2, "", "b", false},    // IMU work state
    {0xD3, "", "bbb", false},  // pan shot: state, total steps, current step
    {0xD4, "", "b", false},    // autodyne mode
    {0xD5, "", "b", false},    // power state
    {0xD6, "", "bbbb", false}, // RC info
    {0xD7, "b", "w", false},   // RC channel: channel; value
    {0xDA, "", "bb", false},   // GPS: number, value
    {0xDB, "", "b", false},    // move speed
    {0xDC, "", "b", false},    // wifi recovery
    {0xE0, "", "L", false},    // IMU hardware version
    {0xE1, "", "L", false},    // IMU firmware version
    {0xE2, "", "L", false},    // IMU boot loader version
    {0xE3, "", "L", false},    // IMU board version
    {0xE4, "", "L", false},    // GMU hardware version
    {0xE5, "", "L", false},    // GMU firmware version
    {0xE6, "", "L", false},    // GMU boot loader version
    {0xE7, "", "L", false},    // GMU board version
    {0xE8, "", "S", false},    // IMU serial number
    {0xE9, "", "S", false},    // GMU serial number
};
// clang-format on

bool IsReport(uint8_t cmd) {
    return (cmd & 0xF0) == 0x70;
}

std::vector<uint8_t> VersionBytes(uint32_t version) {
    std::vector<uint8_t> bytes(4);
    StoreBe32(bytes.data(), version);
    return bytes;
}

std::vector<uint8_t> SerialNumber(const char *text) {
    std::vector<uint8_t> bytes(16, 0);
    memcpy(bytes.data(), text, std::min(bytes.size(), strlen(text)));
    return bytes;
}

} // namespace

GimbalSimulator::GimbalSimulator(SimPort &port) : MlinkSimulator(port, kGimbalDeviceId, true) {
    // A board fresh from the factory: versions 1.x of each part and printable serial numbers.
    for (uint8_t cmd = 0xE0; cmd <= 0xE7; ++cmd) {
        replies_[cmd] = VersionBytes(0x01000000u | static_cast<uint32_t>(cmd - 0xE0) << 8 | 0x01u);
    }
    replies_[0xE8] = SerialNumber("IMU0000000000001");
    replies_[0xE9] = SerialNumber("GMU0000000000001");
}

void GimbalSimulator::SetReply(uint8_t cmd, std::vector<uint8_t> payload) {
    std::lock_guard<std::mutex> hold(stateLock_);
    replies_[cmd] = std::move(payload);
}

void GimbalSimulator::SetVersion(uint8_t cmd, uint32_t version) {
    SetReply(cmd, VersionBytes(version));
}

std::vector<uint8_t> GimbalSimulator::Setting(uint8_t setCmd) const {
    std::lock_guard<std::mutex> hold(stateLock_);
    const auto found = settings_.find(setCmd);
    return found != settings_.end() ? found->second : std::vector<uint8_t>{};
}

void GimbalSimulator::SetRefuseConfirmed(bool refuse) {
    std::lock_guard<std::mutex> hold(stateLock_);
    refuseConfirmed_ = refuse;
}

void GimbalSimulator::InjectReport(uint8_t cmd, std::vector<uint8_t> payload) {
    std::lock_guard<std::mutex> hold(stateLock_);
    reports_.emplace_back(cmd, std::move(payload));
}

// The board's own tables decide: a set is stored, a get returns its setting's stored bytes, a query its reply
// layout's worth of zeros, unless a reply was chosen for the command. A command the tables do not know, or
// one whose payload does not have its layout's length, gets no answer; nor do echoes of reports.
std::optional<std::vector<uint8_t>> GimbalSimulator::Reply(const MlinkMsg &request) {
    if (IsReport(request.cmd)) {
        return std::nullopt;
    }
    std::lock_guard<std::mutex> hold(stateLock_);
    const std::vector<uint8_t> payload(request.payload, request.payload + request.len);
    const auto chosen = replies_.find(request.cmd);
    const std::vector<uint8_t> confirmation{refuseConfirmed_ ? uint8_t{0} : uint8_t{1}};
    for (const SettingRow &setting : kSettings) {
        if (setting.setCmd == request.cmd) {
            if (payload.size() != LayoutSize(setting.layout)) {
                return std::nullopt;
            }
            settings_[request.cmd] = payload;
            if (chosen != replies_.end()) {
                return chosen->second;
            }
            return setting.confirmed ? confirmation : std::vector<uint8_t>{};
        }
        if (setting.getCmd == request.cmd) {
            if (!payload.empty()) {
                return std::nullopt;
            }
            if (chosen != replies_.end()) {
                return chosen->second;
            }
            const auto stored = settings_.find(setting.setCmd);
            if (setting.getLayout == nullptr && stored != settings_.end()) {
                return stored->second;
            }
            return std::vector<uint8_t>(LayoutSize(setting.getLayout != nullptr ? setting.getLayout : setting.layout));
        }
    }
    for (const CommandRow &command : kCommands) {
        if (command.cmd == request.cmd) {
            if (payload.size() != LayoutSize(command.request)) {
                return std::nullopt;
            }
            if (chosen != replies_.end()) {
                return chosen->second;
            }
            return command.confirmed ? confirmation : std::vector<uint8_t>(LayoutSize(command.reply));
        }
    }
    return std::nullopt;
}

void GimbalSimulator::SendReports() {
    for (;;) {
        std::pair<uint8_t, std::vector<uint8_t>> report;
        {
            std::lock_guard<std::mutex> hold(stateLock_);
            if (reports_.empty()) {
                return;
            }
            report = std::move(reports_.front());
            reports_.pop_front();
        }
        SendUnasked(report.first, report.second);
    }
}

} // namespace tarn::bench
