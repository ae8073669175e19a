#include "tarn_bench_sim_lens.h"

#include <algorithm>

#include "tarn_byte_order.h"

namespace tarn::bench {

namespace {

constexpr uint8_t kCmdSoftVersion = 0x60;
constexpr uint8_t kCmdHardVersion = 0x61;
constexpr uint8_t kCmdGetFlashData = 0xF1;
constexpr uint8_t kCmdSetFlashBit = 0xF2;
constexpr size_t kFlashSize = 0x10000;
// A flash read answers this many bytes from the address on.
constexpr size_t kFlashReadLength = 16;

// Move commands 0x02, 0x03, 0x06 and 0x07 and the get command of the drive they move.
constexpr std::array<std::pair<uint8_t, uint8_t>, 4> kMoves = {
    {{0x02, 0x83}, {0x03, 0x84}, {0x06, 0x85}, {0x07, 0x86}}};

} // namespace

LensSimulator::LensSimulator(SimPort &port) : MlinkSimulator(port, kLensDeviceId, false), flash_(kFlashSize, 0xFF) {
    // A lens after its power-on reference run: both sensors seen, initialised, drives at their home positions.
    states_ = {{0x81, 1}, {0x82, 1}, {0x88, 1}};
    positions_ = {{0x83, 0}, {0x84, 0}, {0x85, 0}, {0x86, 0}};
    versions_ = {{kCmdSoftVersion, "LNS_SW_1.2.3"}, {kCmdHardVersion, "LNS_HW_A2"}};
}

int16_t LensSimulator::Position(uint8_t getCmd) const {
    std::lock_guard<std::mutex> hold(stateLock_);
    const auto found = positions_.find(getCmd);
    return found != positions_.end() ? found->second : 0;
}

void LensSimulator::SetPosition(uint8_t getCmd, int16_t position) {
    std::lock_guard<std::mutex> hold(stateLock_);
    positions_[getCmd] = position;
}

void LensSimulator::SetState(uint8_t getCmd, uint8_t state) {
    std::lock_guard<std::mutex> hold(stateLock_);
    states_[getCmd] = state;
}

void LensSimulator::SetVersion(uint8_t cmd, const std::string &text) {
    std::lock_guard<std::mutex> hold(stateLock_);
    versions_[cmd] = text;
}

uint8_t LensSimulator::FlashByte(uint16_t address) const {
    std::lock_guard<std::mutex> hold(stateLock_);
    return flash_[address];
}

void LensSimulator::SetFlashByte(uint16_t address, uint8_t value) {
    std::lock_guard<std::mutex> hold(stateLock_);
    flash_[address] = value;
}

std::optional<std::vector<uint8_t>> LensSimulator::Reply(const MlinkMsg &request) {
    std::lock_guard<std::mutex> hold(stateLock_);
    for (const auto &[moveCmd, getCmd] : kMoves) {
        if (request.cmd == moveCmd) {
            positions_[getCmd] = static_cast<int16_t>(LoadBe16(request.payload));
            return std::vector<uint8_t>{};
        }
        if (request.cmd == getCmd) {
            std::vector<uint8_t> reply(2);
            StoreLe16(reply.data(), static_cast<uint16_t>(positions_[getCmd]));
            return reply;
        }
    }
    if (const auto state = states_.find(request.cmd); state != states_.end()) {
        return std::vector<uint8_t>{state->second};
    }
    if (const auto version = versions_.find(request.cmd); version != versions_.end()) {
        return std::vector<uint8_t>(version->second.begin(), version->second.end());
    }
    switch (request.cmd) {
        case kCmdSetFlashBit:
            flash_[LoadBe16(request.payload)] = request.payload[2];
            return std::vector<uint8_t>{};
        case kCmdGetFlashData: {
            const size_t address = LoadBe16(request.payload);
            const size_t end = std::min(address + kFlashReadLength, flash_.size());
            return std::vector<uint8_t>(flash_.begin() + static_cast<long>(address),
                                        flash_.begin() + static_cast<long>(end));
        }
        default:
            // Loop test, stop commands and anything else: a plain acknowledgement.
            return std::vector<uint8_t>{};
    }
}

} // namespace tarn::bench
