#include "tarn_bench_sim_fmu_bootloader.h"

#include <cstring>

#include "tarn_byte_order.h"
#include "tarn_crc.h"

namespace tarn::bench {

namespace {

// The bootloader's bytes: commands, the end of every command, and the reply codes.
constexpr uint8_t kNoOperation = 0x00;
constexpr uint8_t kOk = 0x10;
constexpr uint8_t kInSync = 0x12;
constexpr uint8_t kInvalid = 0x13; // the answer to a command it cannot parse
constexpr uint8_t kEndOfCommand = 0x20;
constexpr uint8_t kGetSync = 0x21;
constexpr uint8_t kGetDeviceInfo = 0x22;
constexpr uint8_t kChipErase = 0x23;
constexpr uint8_t kProgramMultiple = 0x27;
constexpr uint8_t kGetCrc = 0x29;
constexpr uint8_t kReboot = 0x30;
// Parameters of kGetDeviceInfo.
constexpr uint8_t kInfoRevision = 1;
constexpr uint8_t kInfoFlashSize = 4;

// The application's restart request: MAVLink COMMAND_LONG with command 246 and param1 3 (to the bootloader).
// Its payload: seven float params, then the command (little-endian), target system, component, confirmation.
constexpr uint8_t kCommandLongId = 76;
constexpr uint8_t kCommandLongLength = 33;
constexpr size_t kCommandLongCommandAt = 28;
constexpr uint16_t kRestartCommand = 246;
constexpr float kRestartToBootloader = 3.0f;

// 1 MiB less a 16 KiB bootloader: a typical application area.
constexpr uint32_t kDefaultFlashSize = 0x100000 - 0x4000;

std::vector<uint8_t> LittleEndian(uint32_t value) {
    std::vector<uint8_t> bytes(4);
    StoreLe32(bytes.data(), value);
    return bytes;
}

bool IsRestartToBootloader(const MavlinkMessage &message) {
    if (message.messageId != kCommandLongId || message.length != kCommandLongLength) {
        return false;
    }
    const uint32_t param1Bits = LoadLe32(message.payload);
    float param1 = 0;
    memcpy(&param1, &param1Bits, sizeof(param1));
    return LoadLe16(message.payload + kCommandLongCommandAt) == kRestartCommand && param1 == kRestartToBootloader;
}

} // namespace

FmuBootloaderSimulator::FmuBootloaderSimulator(SimPort &port) : Simulator(port), flash_(kDefaultFlashSize, 0xFF) {}

void FmuBootloaderSimulator::SetRevision(uint32_t revision) {
    std::lock_guard<std::mutex> hold(stateLock_);
    revision_ = revision;
}

void FmuBootloaderSimulator::SetFlashSize(uint32_t flashSize) {
    std::lock_guard<std::mutex> hold(stateLock_);
    flash_.assign(flashSize, 0xFF);
    programOffset_ = 0;
}

void FmuBootloaderSimulator::SetWrongCrc(bool wrong) {
    std::lock_guard<std::mutex> hold(stateLock_);
    wrongCrc_ = wrong;
}

void FmuBootloaderSimulator::SetBadSync(int count, uint8_t first, uint8_t second) {
    std::lock_guard<std::mutex> hold(stateLock_);
    badSyncCount_ = count;
    badSync_[0] = first;
    badSync_[1] = second;
}

void FmuBootloaderSimulator::SetApplicationChatter(bool chatter) {
    std::lock_guard<std::mutex> hold(stateLock_);
    chatter_ = chatter;
}

bool FmuBootloaderSimulator::InBootloader() const {
    std::lock_guard<std::mutex> hold(stateLock_);
    return inBootloader_;
}

std::vector<uint8_t> FmuBootloaderSimulator::Flash() const {
    std::lock_guard<std::mutex> hold(stateLock_);
    return flash_;
}

std::vector<uint8_t> FmuBootloaderSimulator::ProgrammedBytes() const {
    std::lock_guard<std::mutex> hold(stateLock_);
    return programmed_;
}

size_t FmuBootloaderSimulator::FillerCount() const {
    std::lock_guard<std::mutex> hold(stateLock_);
    return fillers_;
}

uint32_t FmuBootloaderSimulator::FlashCrc() const {
    std::lock_guard<std::mutex> hold(stateLock_);
    return Crc_Crc32Raw(flash_.data(), flash_.size(), 0);
}

void FmuBootloaderSimulator::HandleBytes(const uint8_t *bytes, size_t count) {
    for (size_t index = 0; index < count; ++index) {
        if (InBootloader()) {
            OnBootloaderByte(bytes[index]);
        } else {
            OnApplicationByte(bytes[index]);
        }
    }
}

void FmuBootloaderSimulator::HandleIdle() {
    bool chatter = false;
    {
        std::lock_guard<std::mutex> hold(stateLock_);
        chatter = chatter_ && !inBootloader_;
    }
    if (chatter) {
        MavlinkMessage heartbeat{};
        heartbeat.messageId = 0;
        Port().Write(mavlink_.Pack(&heartbeat, 1, 1, 9, Mavlink_GetCrcExtra(0)));
    }
}

void FmuBootloaderSimulator::OnApplicationByte(uint8_t byte) {
    MavlinkMessage message{};
    if (!mavlink_.Parse(byte, &message) || !IsRestartToBootloader(message)) {
        return;
    }
    const std::vector<uint8_t> wire = SimMavlink::Wire(message);
    if (RecordFrame(kRestartRequest, wire.data(), wire.size())) {
        std::lock_guard<std::mutex> hold(stateLock_);
        inBootloader_ = true;
        programOffset_ = 0;
    }
}

// Commands are parsed by their structure: the command byte, a parameter or a length with its data where the
// command has them, then the end-of-command byte.
void FmuBootloaderSimulator::OnBootloaderByte(uint8_t byte) {
    switch (commandState_) {
        case CommandState::Idle:
            command_.assign(1, byte);
            switch (byte) {
                case kNoOperation: {
                    std::lock_guard<std::mutex> hold(stateLock_);
                    ++fillers_;
                    break;
                }
                case kGetDeviceInfo:
                    commandState_ = CommandState::Parameter;
                    break;
                case kProgramMultiple:
                    commandState_ = CommandState::Length;
                    break;
                case kGetSync:
                case kChipErase:
                case kGetCrc:
                case kReboot:
                    commandState_ = CommandState::End;
                    break;
                default:
                    // Not a command: a bootloader skips what it cannot start with.
                    break;
            }
            return;
        case CommandState::Parameter:
            command_.push_back(byte);
            commandState_ = CommandState::End;
            return;
        case CommandState::Length:
            command_.push_back(byte);
            dataLength_ = byte;
            commandState_ = dataLength_ == 0 ? CommandState::End : CommandState::Data;
            return;
        case CommandState::Data:
            command_.push_back(byte);
            if (command_.size() == 2 + dataLength_) {
                commandState_ = CommandState::End;
            }
            return;
        case CommandState::End:
            command_.push_back(byte);
            commandState_ = CommandState::Idle;
            if (byte != kEndOfCommand) {
                Invalid();
                return;
            }
            if (RecordFrame(command_[0], command_.data(), command_.size())) {
                Execute();
            }
            return;
    }
}

void FmuBootloaderSimulator::Execute() {
    std::vector<uint8_t> data;
    bool valid = true;
    {
        std::lock_guard<std::mutex> hold(stateLock_);
        switch (command_[0]) {
            case kGetSync:
                break;
            case kGetDeviceInfo:
                if (command_[1] == kInfoRevision) {
                    data = LittleEndian(revision_);
                } else if (command_[1] == kInfoFlashSize) {
                    data = LittleEndian(static_cast<uint32_t>(flash_.size()));
                } else {
                    valid = false;
                }
                break;
            case kChipErase:
                flash_.assign(flash_.size(), 0xFF);
                programOffset_ = 0;
                break;
            case kProgramMultiple: {
                const size_t length = dataLength_;
                if (programOffset_ + length > flash_.size()) {
                    valid = false;
                    break;
                }
                std::copy(command_.begin() + 2, command_.begin() + 2 + static_cast<long>(length),
                          flash_.begin() + static_cast<long>(programOffset_));
                programmed_.insert(programmed_.end(), command_.begin() + 2,
                                   command_.begin() + 2 + static_cast<long>(length));
                programOffset_ += length;
                break;
            }
            case kGetCrc: {
                const uint32_t crc = Crc_Crc32Raw(flash_.data(), flash_.size(), 0);
                data = LittleEndian(wrongCrc_ ? ~crc : crc);
                break;
            }
            case kReboot:
                inBootloader_ = false;
                return;
            default:
                valid = false;
                break;
        }
    }
    if (!valid) {
        Invalid();
        return;
    }
    Reply(std::move(data), true);
}

void FmuBootloaderSimulator::Invalid() {
    RecordFrame(kInvalidCommand, command_.data(), command_.size());
    Reply({kInSync, kInvalid}, false);
}

void FmuBootloaderSimulator::Reply(std::vector<uint8_t> data, bool withSync) {
    if (withSync) {
        std::lock_guard<std::mutex> hold(stateLock_);
        if (badSyncCount_ > 0) {
            --badSyncCount_;
            data.insert(data.end(), badSync_, badSync_ + 2);
        } else {
            data.insert(data.end(), {kInSync, kOk});
        }
    }
    SendFrame(data);
}

} // namespace tarn::bench
