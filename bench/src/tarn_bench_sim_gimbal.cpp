#include "tarn_bench_sim_gimbal.h"

#include "tarn_xtb_catalogue.h"

namespace tarn::bench {

namespace {

bool IsReport(uint8_t cmd) {
    return (cmd & 0xF0) == 0x70;
}

std::vector<uint8_t> VersionBytes(uint32_t version) {
    return {static_cast<uint8_t>(version >> 24), static_cast<uint8_t>(version >> 16),
            static_cast<uint8_t>(version >> 8), static_cast<uint8_t>(version)};
}

std::vector<uint8_t> SerialNumber(const char *text) {
    std::vector<uint8_t> bytes(16, 0);
    for (size_t index = 0; index < bytes.size() && text[index] != '\0'; ++index) {
        bytes[index] = static_cast<uint8_t>(text[index]);
    }
    return bytes;
}

} // namespace

GimbalSimulator::GimbalSimulator(SimPort &port) : MlinkSimulator(port, kMlinkDevIdXtb, true) {
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

// The catalogue decides: a set is stored, a get returns its setting's stored bytes, a query its reply
// layout's worth of zeros, unless a reply was chosen for the command. Echoes of reports get no answer.
std::optional<std::vector<uint8_t>> GimbalSimulator::Reply(const MlinkMsg &request) {
    if (IsReport(request.cmd)) {
        return std::nullopt;
    }
    std::lock_guard<std::mutex> hold(stateLock_);
    const std::vector<uint8_t> payload(request.payload, request.payload + request.len);
    const auto chosen = replies_.find(request.cmd);
    for (const XtbSetting &setting : kXtbSettings) {
        if (setting.setCmd == request.cmd) {
            settings_[request.cmd] = payload;
            if (chosen != replies_.end()) {
                return chosen->second;
            }
            return setting.confirmed ? std::vector<uint8_t>{refuseConfirmed_ ? uint8_t{0} : uint8_t{1}}
                                     : std::vector<uint8_t>{};
        }
        if (setting.getCmd == request.cmd) {
            if (chosen != replies_.end()) {
                return chosen->second;
            }
            const bool sameLayout = setting.getLayout.count == 0;
            const auto stored = settings_.find(setting.setCmd);
            if (sameLayout && stored != settings_.end()) {
                return stored->second;
            }
            return std::vector<uint8_t>(XtbLayoutSize(sameLayout ? setting.layout : setting.getLayout), 0);
        }
    }
    if (chosen != replies_.end()) {
        return chosen->second;
    }
    for (const XtbCommand &command : kXtbCommands) {
        if (command.cmd == request.cmd) {
            if (command.confirmed) {
                return std::vector<uint8_t>{refuseConfirmed_ ? uint8_t{0} : uint8_t{1}};
            }
            return std::vector<uint8_t>(XtbLayoutSize(command.reply), 0);
        }
    }
    return std::vector<uint8_t>{};
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
