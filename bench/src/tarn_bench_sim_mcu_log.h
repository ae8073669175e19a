// A microcontroller printing its log on a serial line: an endless, numbered byte pattern at a fixed rate
// (115200 baud 8N1 by default). Like a UART without flow control it never waits for the reader: what the line
// cannot take at once is dropped and counted. Every byte has a stream offset, so a recording can be checked
// against what was sent, and when.
//
// Threads: the stream is written on the simulator's thread; the knobs and the record belong to any other
// thread; what both touch sits under one lock or is atomic.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "tarn_bench_simulator.h"

namespace tarn::bench {

// Bytes the line carried, from stream offset `offset` on, at `at`.
struct SentChunk {
    uint64_t offset;
    uint32_t count;
    std::chrono::steady_clock::time_point at;
};

class McuLogSimulator : public Simulator {
public:
    // Each 16-byte line reads "L0000000042 log\n": its number, counted from 0.
    static constexpr size_t kLineLength = 16;
    // The byte at this stream offset.
    static uint8_t PatternByte(uint64_t offset);

    explicit McuLogSimulator(SimPort &port, uint32_t bytesPerSecond = kLineRate115200);
    ~McuLogSimulator() override { Stop(); }

    // A paused source sends nothing and lets no bytes accrue, as a quiet microcontroller.
    void SetPaused(bool paused);
    // The line goes down for good: the simulator closes its side (the tool reads end of file from then on).
    void HangUp();
    // A chatty, then quiet microcontroller: bursts of this many bytes at the rate, each followed by pauseMs of
    // quiet in which no bytes accrue (0 bytes: a steady stream).
    void SetBursts(uint32_t bytes, uint32_t pauseMs);

    // tarn-bench --knob: burst=BYTES, pause=MS.
    int SetKnob(const std::string &name, const std::string &value) override;

    // Totals so far: bytes the line took, and bytes generated that it could not take.
    uint64_t SentCount() const;
    uint64_t DroppedCount() const;
    // Every chunk the line took, in order.
    std::vector<SentChunk> Sent() const;

protected:
    void OnBytes(const uint8_t *, size_t) override {}
    void OnIdle() override;

private:
    const uint32_t bytesPerSecond_;
    std::atomic<bool> paused_{false};
    std::atomic<bool> hangUpRequested_{false};
    std::atomic<uint32_t> burstBytes_{0};
    std::atomic<uint32_t> burstPauseMs_{0};

    // Simulator thread only.
    bool started_ = false;
    std::chrono::steady_clock::time_point lastTick_{};
    uint64_t owedMicroBytes_ = 0; // bytes due, times 1,000,000: pacing without rounding drift
    uint64_t nextOffset_ = 0;
    uint64_t burstLeft_ = 0; // of the burst on the line; 0 before the next one
    std::chrono::steady_clock::time_point quietUntil_{};

    mutable std::mutex recordLock_;
    // Guarded by recordLock_: written by the simulator thread, read by the others.
    std::vector<SentChunk> sent_;
    uint64_t sentCount_ = 0;
    uint64_t droppedCount_ = 0;
};

} // namespace tarn::bench
