#include "tarn_mlink_link.h"

#include <cstring>

#include "tarn_cancellable.h"
#include "tarn_console.h"
#include "tarn_mutex.h"
#include "tarn_thread.h"
#include "tarn_time.h"
#include "tarn_uart.h"

namespace {

constexpr int32_t kBaudrate = 115200;
constexpr uint32_t kReadChunk = 1024;
constexpr uint32_t kReadTimeoutMs = 100;
constexpr uint64_t kReadFailurePauseUs = 100000;
constexpr uint64_t kShareWaitUs = 1000000;
constexpr uint8_t kGateLastCmd = 0xFD;

bool SameExchange(const MlinkMsg &slot, const MlinkMsg &sent) {
    return slot.start != 0 && slot.devid == sent.devid && slot.cmd == sent.cmd && slot.seq == sent.seq;
}

} // namespace

int MlinkLink::Acquire() {
    if (users_.fetch_add(1) + 1 >= 2) {
        Time_SleepUs(kShareWaitUs);
        return 0;
    }
    if (Init() != 0) {
        TARN_ERR("mlink init fail.\n");
        users_.store(0);
        return -1;
    }
    return 0;
}

void MlinkLink::Release() {
    if (users_.fetch_sub(1) - 1 <= 0) {
        users_.store(0);
        Deinit();
    }
}

int MlinkLink::Init() {
    const int port = config_.portNumber();
    if (port < 0) {
        return -1;
    }
    const UartParam uartParam = {port, kBaudrate};
    if (Uart_Create(&pPort_, &uartParam) != 0) {
        TARN_ERR("Uart_Create \n");
        return -1;
    }
    for (size_t index = 0; index < config_.lockCount; ++index) {
        const MutexParam mutexParam = {config_.lockNames[index]};
        if (Mutex_Create(&locks_[index], &mutexParam) != 0) {
            TARN_ERR("Mutex_Create \n");
            DeleteLocks();
            Uart_Delete(&pPort_);
            return -1;
        }
    }
    // The thread is not running yet: nothing else touches these.
    memset(slots_, 0, sizeof(slots_));
    ackWriteIndex_ = 0;
    parser_ = MlinkParser(config_.devid);
    const ThreadParam threadParam = {config_.pThreadName, this, RecvThread};
    if (Thread_Create(&pThread_, &threadParam) != 0) {
        TARN_ERR("Thread_Create \n");
        DeleteLocks();
        Uart_Delete(&pPort_);
        return -1;
    }
    return 0;
}

void MlinkLink::Deinit() {
    if (pThread_ != nullptr) {
        Thread_Stop(pThread_);
        Thread_Delete(&pThread_);
    }
    DeleteLocks();
    if (pPort_ != nullptr) {
        Uart_Delete(&pPort_);
    }
}

void MlinkLink::DeleteLocks() {
    for (size_t index = config_.lockCount; index-- > 0;) {
        if (locks_[index] != nullptr) {
            Mutex_Delete(&locks_[index]);
        }
    }
}

void *MlinkLink::RecvThread(void *pArg) {
    MlinkLink *pLink = static_cast<MlinkLink *>(pArg);
    tarn::DisableCancellation();
    uint8_t buffer[kReadChunk];
    for (;;) {
        Uart *pPort = pLink->pPort_;
        const int count =
            tarn::Cancellable([&] { return pPort->ReadTimeout(pPort, buffer, kReadChunk, kReadTimeoutMs); });
        if (count < 0) {
            TARN_WARN("mlink recv data fail.\n");
            // A dead port must not spin.
            tarn::CancellableSleepUs(kReadFailurePauseUs);
            continue;
        }
        pLink->ParseBytes(buffer, static_cast<size_t>(count));
    }
    return nullptr;
}

void MlinkLink::ParseBytes(const uint8_t *pBytes, size_t count) {
    for (size_t index = 0; index < count; ++index) {
        const MlinkMsg *pFrame = parser_.Push(pBytes[index]);
        if (pFrame == nullptr) {
            continue;
        }
        if (config_.isReport != nullptr && config_.isReport(pFrame->cmd)) {
            config_.onReport(*pFrame);
        } else {
            FileAck(*pFrame);
        }
    }
}

void MlinkLink::FileAck(const MlinkMsg &msg) {
    MlinkMsg overlaid;
    bool untaken = false;
    {
        MutexHold hold(locks_[0]);
        MlinkMsg &slot = slots_[ackWriteIndex_ % kMlinkAckSlots];
        untaken = slot.start != 0;
        if (untaken) {
            overlaid = slot;
        }
        slot = msg;
    }
    ++ackWriteIndex_;
    {
        std::lock_guard<PosixMutex> hold(ackWakeLock_);
        ++acksFiled_;
        ackFiled_.NotifyAll();
    }
    if (untaken) {
        TARN_WARN("overlay msg: ");
        Mlink_Dump(&overlaid);
    }
}

bool MlinkLink::TakeAck(MlinkMsg *pMsg) {
    MutexHold hold(locks_[0]);
    for (MlinkMsg &slot : slots_) {
        if (SameExchange(slot, *pMsg)) {
            *pMsg = slot;
            slot = MlinkMsg{};
            return true;
        }
    }
    return false;
}

uint32_t MlinkLink::AckLimitMs(uint32_t timeoutMs) const {
    const uint32_t polls = timeoutMs / config_.pollStepMs + 1;
    return (config_.scanBeforeSleep ? polls - 1 : polls) * config_.pollStepMs;
}

int MlinkLink::WaitAck(MlinkMsg *pMsg, uint32_t timeoutMs) {
    const timespec deadline = Time_MonotonicAfterUs(uint64_t{AckLimitMs(timeoutMs)} * 1000u);
    for (;;) {
        // Noted before the scan: an acknowledgement filed after the scan began changes the count, so the
        // wait below returns at once instead of missing it.
        uint32_t seen = 0;
        {
            std::lock_guard<PosixMutex> hold(ackWakeLock_);
            seen = acksFiled_;
        }
        if (TakeAck(pMsg)) {
            return 0;
        }
        bool filed = false;
        {
            std::lock_guard<PosixMutex> hold(ackWakeLock_);
            filed = ackFiled_.WaitUntil(ackWakeLock_, deadline, [&] { return acksFiled_ != seen; });
        }
        if (!filed) {
            break;
        }
    }
    TARN_WARN("wait recv [0x%02x 0x%02x 0x%02x] msg timeout.\n", pMsg->devid, pMsg->cmd, pMsg->seq);
    return -1;
}

int MlinkLink::Write(const MlinkMsg &msg) {
    uint8_t frame[kMlinkFrameMax];
    const size_t size = Mlink_Serialise(&msg, frame);
    int written = 0;
    {
        std::lock_guard<PosixMutex> hold(writeLock_);
        written = pPort_->Write(pPort_, frame, static_cast<uint32_t>(size));
    }
    if (written < 0) {
        TARN_ERR("uart send fail.\n");
        return -1;
    }
    return 0;
}

int MlinkLink::SendMsg(const MlinkMsg &msg) {
    if (msg.cmd < config_.gateFirstCmd || msg.cmd > kGateLastCmd) {
        std::lock_guard<PosixMutex> hold(echoLock_);
        gateOpened_.Wait(echoLock_, [this] { return !upgrading_.load(); });
    }
    return Write(msg);
}

int MlinkLink::Exchange(MlinkMsg *pMsg, uint32_t timeoutMs) {
    if (SendMsg(*pMsg) != 0) {
        return -1;
    }
    return WaitAck(pMsg, timeoutMs);
}

int MlinkLink::Transact(uint8_t cmd, const uint8_t *pPayload, uint8_t length, uint32_t timeoutMs, MlinkMsg *pReply) {
    *pReply = MlinkMsg{};
    Mlink_Pack(pReply, config_.devid, cmd, NextSeq(), length, pPayload);
    if (Exchange(pReply, timeoutMs) != 0) {
        TARN_ERR("send msg but no ack.\n");
        return -1;
    }
    return 0;
}

void MlinkLink::SendEcho(const MlinkMsg &msg) {
    {
        std::lock_guard<PosixMutex> hold(echoLock_);
        if (upgrading_.load() || echoCount_ != 0) {
            if (echoCount_ == kMlinkEchoQueue) {
                TARN_WARN("echo queue full, drop cmd 0x%02x.\n", echoes_[echoFirst_].cmd);
                echoFirst_ = (echoFirst_ + 1) % kMlinkEchoQueue;
                --echoCount_;
            }
            echoes_[(echoFirst_ + echoCount_) % kMlinkEchoQueue] = msg;
            ++echoCount_;
            return;
        }
    }
    Write(msg);
}

void MlinkLink::BeginUpgrade() {
    std::lock_guard<PosixMutex> hold(echoLock_);
    upgrading_.store(true);
    progress_.store(0);
}

void MlinkLink::EndUpgrade() {
    for (;;) {
        MlinkMsg echo;
        {
            std::lock_guard<PosixMutex> hold(echoLock_);
            if (echoCount_ == 0) {
                upgrading_.store(false);
                gateOpened_.NotifyAll();
                return;
            }
            echo = echoes_[echoFirst_];
            echoFirst_ = (echoFirst_ + 1) % kMlinkEchoQueue;
            --echoCount_;
        }
        Write(echo);
    }
}
