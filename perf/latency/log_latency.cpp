// How late the recorders' files are: from a byte's arrival (handed to the kernel's log device for dlogger, taken
// by the serial line for mcu_dlogger) to the moment the file on the card holds it. Each recorder runs in a
// sandbox of its own with a card, fed at 11520 bytes/s for the given time; a watcher looks at the source's count
// and the file's size every millisecond, so each figure is good to a millisecond. The first second (start-up,
// the first open of the file) is left out.
//   tarn_log_latency PREFIX WORK_DIR [SECONDS (20)]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <functional>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <vector>

#include "tarn_bench_dlog_source.h"
#include "tarn_bench_sandbox.h"
#include "tarn_bench_sim_mcu_log.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;
using tarn::bench::Sandbox;

constexpr uint32_t kRate = 11520;
constexpr auto kWarmUp = 1s;

// The one regular file in dir, or "" while there is none.
std::string OnlyFile(const std::string &dir) {
    DIR *listing = opendir(dir.c_str());
    if (listing == nullptr) {
        return "";
    }
    std::string found;
    while (const dirent *entry = readdir(listing)) {
        struct stat status {};
        const std::string path = dir + "/" + entry->d_name;
        if (stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode)) {
            found = path;
        }
    }
    closedir(listing);
    return found;
}

uint64_t SizeOf(const std::string &path) {
    struct stat status {};
    return !path.empty() && stat(path.c_str(), &status) == 0 ? static_cast<uint64_t>(status.st_size) : 0;
}

// When each byte of a growing count was first seen.
struct Arrivals {
    std::vector<Clock::time_point> at;
    void Saw(uint64_t count, Clock::time_point now) {
        if (count > at.size()) {
            at.resize(count, now);
        }
    }
};

// Watches the source's count and the file for seconds; prints the delays of the bytes that reached the file.
int Watch(const char *name, const std::function<uint64_t()> &sent, const std::string &dir, int seconds) {
    Arrivals given;
    Arrivals filed;
    std::string file;
    const Clock::time_point start = Clock::now();
    const Clock::time_point end = start + std::chrono::seconds(seconds);
    while (Clock::now() < end) {
        const Clock::time_point now = Clock::now();
        given.Saw(sent(), now);
        file = file.empty() ? OnlyFile(dir) : file;
        filed.Saw(std::min<uint64_t>(SizeOf(file), given.at.size()), now);
        std::this_thread::sleep_for(1ms);
    }
    std::vector<double> delays;
    for (size_t offset = 0; offset < filed.at.size(); ++offset) {
        if (given.at[offset] >= start + kWarmUp) {
            delays.push_back(std::chrono::duration<double, std::milli>(filed.at[offset] - given.at[offset]).count());
        }
    }
    if (delays.empty()) {
        fprintf(stderr, "%s: no byte reached the file (%zu sent)\n", name, given.at.size());
        return -1;
    }
    std::sort(delays.begin(), delays.end());
    printf("%-12s %8zu bytes sent, %8zu filed after the first second: median %6.1f ms, worst %6.1f ms\n", name,
           given.at.size(), delays.size(), delays[delays.size() / 2], delays.back());
    fflush(stdout);
    return 0;
}

std::unique_ptr<Sandbox> MakeSandbox(const std::string &prefix, const std::string &card) {
    tarn::bench::SandboxSettings settings;
    settings.install = tarn::bench::MakeToolInstall(prefix);
    settings.card.directory = card;
    return Sandbox::Create(std::move(settings));
}

int MeasureDlogger(const std::string &prefix, const std::string &card, int seconds) {
    mkdir((card + "/DCIM").c_str(), 0755);
    std::unique_ptr<Sandbox> sandbox = MakeSandbox(prefix, card);
    if (!sandbox) {
        return -1;
    }
    sandbox->Settings().dlog.present = true;
    if (sandbox->Start("dlogger", {}) != 0) {
        return -1;
    }
    std::this_thread::sleep_for(500ms);
    tarn::bench::DlogSource source(sandbox->DlogPath(), kRate);
    if (source.Start() != 0) {
        return -1;
    }
    const int result = Watch(
        "dlogger", [&] { return source.BytesWritten(); }, card + "/DCIM/DLOG", seconds);
    source.Stop();
    sandbox->Stop();
    return result;
}

int MeasureMcuDlogger(const std::string &prefix, const std::string &card, int seconds) {
    std::unique_ptr<tarn::bench::SimPort> line = tarn::bench::SimPort::Create();
    std::unique_ptr<Sandbox> sandbox = MakeSandbox(prefix, card);
    if (!line || !sandbox) {
        return -1;
    }
    sandbox->Settings().serial[1] = line.get();
    if (sandbox->Start("mcu_dlogger", {"-u", "1", "-d", "/tmp/SD0"}) != 0) {
        return -1;
    }
    std::this_thread::sleep_for(500ms);
    tarn::bench::McuLogSimulator source(*line, kRate);
    if (source.Start() != 0) {
        return -1;
    }
    const int result = Watch(
        "mcu_dlogger", [&] { return source.SentCount(); }, card, seconds);
    source.Stop();
    sandbox->Stop();
    return result;
}

} // namespace

int main(int argc, char **argv) {
    const int seconds = argc == 4 ? atoi(argv[3]) : 20;
    if (argc < 3 || argc > 4 || seconds < 2) {
        fprintf(stderr, "usage: tarn_log_latency PREFIX WORK_DIR [SECONDS (20, at least 2)]\n");
        return 2;
    }
    const std::string prefix = argv[1];
    const std::string work = argv[2];
    const std::string dlogCard = work + "/dlog-card";
    const std::string mcuCard = work + "/mcu-card";
    if (mkdir(dlogCard.c_str(), 0755) != 0 || mkdir(mcuCard.c_str(), 0755) != 0) {
        perror("tarn_log_latency: mkdir (WORK_DIR must exist and hold no cards yet)");
        return 2;
    }
    const int dlogger = MeasureDlogger(prefix, dlogCard, seconds);
    const int mcuDlogger = MeasureMcuDlogger(prefix, mcuCard, seconds);
    return dlogger == 0 && mcuDlogger == 0 ? 0 : 1;
}
