// The link engine of the mlink devices: serial port, receive thread, frame assembly, 32 acknowledgement
// slots, upgrade gate and command transaction. The gimbal board and the lens are two configurations of it.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>

#include "mlink.h"
#include "tarn_mutex.h"
#include "tarn_posix_sync.h"

struct Thread;
struct Uart;

// Holds one of the link's named locks for a scope.
class MutexHold {
public:
    explicit MutexHold(Mutex *pMutex) : pMutex_(pMutex) { pMutex_->Lock(pMutex_); }
    ~MutexHold() { pMutex_->Unlock(pMutex_); }
    MutexHold(const MutexHold &) = delete;
    MutexHold &operator=(const MutexHold &) = delete;

private:
    Mutex *pMutex_;
};

inline constexpr size_t kMlinkAckSlots = 32;
inline constexpr size_t kMlinkLocksMax = 5;
inline constexpr size_t kMlinkEchoQueue = 32;

struct MlinkLinkConfig {
    uint8_t devid;
    const char *pThreadName;
    // Created in this order, deleted in reverse; the first guards the acknowledgement slots.
    const char *lockNames[kMlinkLocksMax];
    size_t lockCount;
    // The serial port number, or -1 after the configuration's own error line.
    int (*portNumber)();
    // The acknowledgement wait's overall limit is what timeout / pollStepMs + 1 polls of pollStepMs take: the
    // gimbal board's poll slept before each scan, the lens scans first. Within it the waiter scans whenever an
    // acknowledgement is filed.
    uint32_t pollStepMs;
    bool scanBeforeSleep;
    // During an upgrade only the commands gateFirstCmd to 0xFD go out.
    uint8_t gateFirstCmd;
    // Frames for which isReport holds go to onReport (on the receive thread) instead of the slots. Null: none.
    bool (*isReport)(uint8_t cmd);
    void (*onReport)(const MlinkMsg &msg);
};

class MlinkLink {
public:
    explicit MlinkLink(const MlinkLinkConfig &config) : config_(config), parser_(config.devid) {}
    MlinkLink(const MlinkLink &) = delete;
    MlinkLink &operator=(const MlinkLink &) = delete;

    // Process-wide user count: the first user opens the port and starts the receive thread; a later one waits
    // a second and shares it. A failed opening prints "mlink init fail." and leaves the count at 0.
    int Acquire();
    // The last user closes: the receive thread is cancelled and joined before the locks and port go.
    void Release();
    int Users() const { return users_.load(); }
    uint8_t DevId() const { return config_.devid; }

    // Upgrade gate (a held command goes out as soon as the upgrade ends), then one write of the whole frame.
    int SendMsg(const MlinkMsg &msg);
    // Waits for the acknowledgement with msg's device id, command and sequence and copies it over msg: scans
    // at once and again each time the receive thread files one, until the polls' overall limit has passed.
    int WaitAck(MlinkMsg *pMsg, uint32_t timeoutMs);
    // The next sequence byte; the counter runs for the life of the process.
    uint8_t NextSeq() { return static_cast<uint8_t>(sequence_.fetch_add(1)); }
    // Send and wait, silent on failure (the caller decides what to say and whether to retry).
    int Exchange(MlinkMsg *pMsg, uint32_t timeoutMs);
    // One command with a new sequence: "send msg but no ack." when it fails; *pReply gets the acknowledgement.
    int Transact(uint8_t cmd, const uint8_t *pPayload, uint8_t length, uint32_t timeoutMs, MlinkMsg *pReply);

    // For report handlers on the receive thread: sends the frame back at once, or, while an upgrade holds the
    // gate, keeps it for EndUpgrade, so the receive thread never waits and acknowledgements keep flowing.
    void SendEcho(const MlinkMsg &msg);
    void BeginUpgrade();
    // Sends the echoes kept meanwhile, in order, then opens the gate.
    void EndUpgrade();
    bool Upgrading() const { return upgrading_.load(); }
    uint8_t Progress() const { return progress_.load(); }
    void SetProgress(uint8_t percent) { progress_.store(percent); }

    // The configuration's named locks (index 0 is the acknowledgement lock); valid while the link is open.
    Mutex *NamedLock(size_t index) const { return locks_[index]; }

    // Runs received bytes through the frame parser and files what completes. Receive thread only.
    void ParseBytes(const uint8_t *pBytes, size_t count);

private:
    int Init();
    void Deinit();
    void DeleteLocks();
    int Write(const MlinkMsg &msg);
    void FileAck(const MlinkMsg &msg);
    bool TakeAck(MlinkMsg *pMsg);
    // The acknowledgement wait's overall limit for this time-out, in milliseconds.
    uint32_t AckLimitMs(uint32_t timeoutMs) const;
    static void *RecvThread(void *pArg);

    const MlinkLinkConfig config_;

    // Created and deleted by the tool's main thread only (Acquire/Release); the count is atomic so that a
    // reader on another thread never sees a torn value.
    std::atomic<int> users_{0};
    Uart *pPort_ = nullptr;
    Thread *pThread_ = nullptr;
    Mutex *locks_[kMlinkLocksMax] = {};

    // Slots: written by the receive thread, scanned and taken by the commanding thread, both under locks_[0].
    MlinkMsg slots_[kMlinkAckSlots] = {};
    // Acknowledgements filed so far: counted by the receive thread after the slot copy, which then wakes the
    // waiter; the waiter notes the count before it scans and sleeps until it changes. Guarded by ackWakeLock_,
    // which is taken alone, never with locks_[0] or another lock.
    PosixMutex ackWakeLock_;
    PosixCondition ackFiled_;
    uint32_t acksFiled_ = 0;
    // Receive thread only.
    uint32_t ackWriteIndex_ = 0;
    MlinkParser parser_;

    // One commanding thread at a time, but the upgrade's thread and a held command may overlap: atomic.
    std::atomic<uint32_t> sequence_{0};
    std::atomic<bool> upgrading_{false};
    std::atomic<uint8_t> progress_{0};

    // Commands (caller's thread) and echoes (receive thread) share the port: one write at a time.
    PosixMutex writeLock_;
    // Echoes held during an upgrade; guarded by echoLock_, never held while another lock is taken. upgrading_
    // changes under it too, and gateOpened_ wakes the commands held at the gate when it clears.
    PosixMutex echoLock_;
    PosixCondition gateOpened_;
    MlinkMsg echoes_[kMlinkEchoQueue] = {};
    size_t echoFirst_ = 0;
    size_t echoCount_ = 0;
};
