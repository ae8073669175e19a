#include "tarn_bench_dlog_source.h"

#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

#include "tarn_bench_report.h"

namespace tarn::bench {

namespace {

constexpr std::chrono::milliseconds kStep{10};

// Line n of the stream: a kernel record with its level and a number, so a reader can tell every byte's place.
std::string Line(uint64_t n) {
    char text[96];
    snprintf(text, sizeof text, "<6>[%6llu.%03llu] bench: kernel log line %llu\n",
             static_cast<unsigned long long>(n / 100), static_cast<unsigned long long>(n % 100 * 10),
             static_cast<unsigned long long>(n));
    return text;
}

} // namespace

DlogSource::DlogSource(std::string path, uint32_t bytesPerSecond)
    : path_(std::move(path)), bytesPerSecond_(bytesPerSecond) {}

DlogSource::~DlogSource() {
    Stop();
}

int DlogSource::Start() {
    const int fd = open(path_.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    if (fd < 0) {
        ReportSystemError(("open " + path_).c_str());
        return -1;
    }
    stop_ = false;
    feeder_ = std::thread([this, fd] { Feed(fd); });
    return 0;
}

void DlogSource::Stop() {
    stop_ = true;
    if (feeder_.joinable()) {
        feeder_.join();
    }
}

std::string DlogSource::Text(uint64_t count) {
    std::string text;
    for (uint64_t n = 0; text.size() < count; ++n) {
        text += Line(n);
    }
    text.resize(count);
    return text;
}

void DlogSource::Feed(int fd) {
    const auto start = std::chrono::steady_clock::now();
    const uint64_t before = written_ + pending_.size();
    std::string &pending = pending_;
    while (!stop_) {
        const auto elapsed =
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
        const uint64_t due = before + static_cast<uint64_t>(elapsed.count()) * bytesPerSecond_ / 1000;
        // Whole lines only, as a driver hands out whole records.
        while (written_ + pending.size() < due) {
            pending += Line(nextLine_++);
        }
        if (!pending.empty()) {
            const ssize_t count = write(fd, pending.data(), pending.size());
            if (count > 0) {
                written_ += static_cast<uint64_t>(count);
                pending.erase(0, static_cast<size_t>(count));
            }
        }
        std::this_thread::sleep_for(kStep);
    }
    close(fd);
}

} // namespace tarn::bench
