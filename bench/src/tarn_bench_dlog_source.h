// The kernel's log as the bench plays it: numbered lines appended to the host file behind /dev/dlog at a set
// rate, by a thread of the source's own.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

namespace tarn::bench {

class DlogSource {
public:
    // path: the file to append to (Sandbox::DlogPath); bytesPerSecond: the rate, reached in steps of 10 ms.
    DlogSource(std::string path, uint32_t bytesPerSecond);
    ~DlogSource();
    DlogSource(const DlogSource &) = delete;
    DlogSource &operator=(const DlogSource &) = delete;

    // 0, or -1 after printing why the file cannot be opened. A source started again goes on with its stream.
    int Start();
    void Stop();
    // Bytes appended so far. Whole lines: the stream is Text(0) + Text(1) + ... cut after BytesWritten().
    uint64_t BytesWritten() const { return written_.load(); }
    // The first count bytes of the stream the source writes.
    static std::string Text(uint64_t count);

private:
    void Feed(int fd);

    const std::string path_;
    const uint32_t bytesPerSecond_;
    std::atomic<bool> stop_{false};
    std::atomic<uint64_t> written_{0}; // written by the feeder thread, read by anyone
    uint64_t nextLine_ = 0;            // the feeder thread's, between Start and Stop
    std::string pending_;              // likewise: the part of a line the file has not taken yet
    std::thread feeder_;
};

} // namespace tarn::bench
