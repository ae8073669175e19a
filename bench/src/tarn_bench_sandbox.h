// Runs an installed tarn tool under its link name in a private mount namespace that plays the aircraft's
// computer: /dev with the simulated serial lines and the scenario's device files, /proc/cmdline from given
// text, a fresh /tmp with the SD card's directory while a card is inserted, a killall that only records its
// arguments, and a working directory of its own.
//
// Host-side state (working directory, command line file, killall log) lives in a fresh directory under
// /var/tmp (the sandbox's own /tmp hides the host's), removed with the Sandbox.
//
// Threads: a Sandbox belongs to the thread that created it, which must also be the thread that starts its
// tools (the tool is killed when that thread ends). Captured output is filled by a reader thread under a
// lock and can be read while the tool runs.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <sys/types.h>
#include <thread>
#include <vector>

#include "tarn_bench_namespace.h"
#include "tarn_bench_sim_port.h"

namespace tarn::bench {

// Where the tarn to run is installed, and how to run it.
struct ToolInstall {
    std::string prefix; // holds bin/tarn and one link per tool name
    // Empty: the tool runs natively. Otherwise the command that runs it, in which the words "{argv0}" and
    // "{exe}" stand for the tool's name and the executable's path.
    std::vector<std::string> runner;
};
// The one switch between a native build and a target build: an empty runnerProgram runs prefix/bin natively,
// a qemu-user program (e.g. "qemu-aarch64-static") runs the same tree under it.
ToolInstall MakeToolInstall(std::string prefix, const std::string &runnerProgram = "");

// A host file bound onto /dev/<name>, e.g. a NAND image as "mtd0".
struct ExtraDevice {
    std::string hostPath;
    std::string name;
};

// A NAND device played by the preloaded fake MTD driver: the image file appears as /dev/mtd<index>.
struct FlashDevice {
    std::string imagePath;
    uint32_t blocks = 0;
    bool writeProtected = false;     // opening it for writing is refused
    std::vector<uint32_t> badBlocks; // block numbers inside this device
};

struct FlashSettings {
    std::vector<FlashDevice> devices; // /dev/mtd0, /dev/mtd1, ...
    // Further lines of the driver's configuration (faults: "fail write 3", "flip 0 0x80010 0x01", ...; see
    // bench/preload/tarn_bench_fake_mtd.cpp).
    std::vector<std::string> faults;
    // The devices are the kernel's own /dev/mtdN (a NAND simulator in a VM): the fake driver passes every
    // request on to them, adding only the faults and the journal.
    bool kernel = false;
};

// The kernel's log device: /dev/dlog is a host file (Sandbox::DlogPath) that a source appends to, served by
// the preloaded fake driver, which hands out each byte once across opens and runs of this sandbox.
struct DlogSettings {
    bool present = false;
    // Fault lines for the driver, after "dlog ": "fail open EACCES", "fail read EIO 3" (the first 3 reads of
    // each run), "fail 5 EPERM" (request number 5); see bench/preload/tarn_bench_fake_dlog.cpp.
    std::vector<std::string> faults;
};

// An SD card: what /tmp/SD0 shows while it is inserted.
struct CardSettings {
    std::string directory; // host directory of its files; empty: no card
    bool readOnly = false; // mounted read-only: every write and create fails with EROFS
    // A small file system holding a copy of directory with every byte taken: writes fail with ENOSPC. What
    // the tool does there stays inside the sandbox (look through PathInside while the tool runs).
    bool full = false;
};

// A kernel command line without any hwinfo= parameter.
inline constexpr const char kPlainKernelCommandLine[] = "mem=512M console=ttyAMA0,115200 root=/dev/mtdblock3 rw\n";

struct SandboxSettings {
    ToolInstall install;
    // /dev/ttySn: the port's slave, or an unconnected line the sandbox owns when nullptr.
    std::array<const SimPort *, kSerialDeviceCount> serial{};
    std::vector<ExtraDevice> devices;
    FlashSettings flash; // no devices: no flash, and nothing preloaded unless the log device is present
    DlogSettings dlog;
    std::string kernelCommandLine = kPlainKernelCommandLine; // exactly what /proc/cmdline reads
    // A card inserted when the tool starts: /dev/mmcblk0 exists and the card is at /tmp/SD0.
    CardSettings card;
    // false: the tool shares the caller's standard input, output and error (live output, nothing captured).
    bool captureOutput = true;
};

struct ToolStatus {
    bool started = false;
    bool exited = false; // with code; otherwise killed by signalNumber
    int code = 0;
    int signalNumber = 0;
    bool timedOut = false; // stopped by Run's time limit
};

class Sandbox {
public:
    // nullptr after printing why the host directory could not be made.
    static std::unique_ptr<Sandbox> Create(SandboxSettings settings);
    ~Sandbox();
    Sandbox(const Sandbox &) = delete;
    Sandbox &operator=(const Sandbox &) = delete;

    // May change between runs; each Start builds the namespace from the settings as they are then.
    SandboxSettings &Settings() { return settings_; }
    // Host path of the tool's working directory (inputs go here, outputs are found here).
    const std::string &WorkDirectory() const { return workDirectory_; }
    // Copies a host file into the working directory under its own name; 0, or -1 after printing why.
    int PlaceFile(const std::string &hostPath) const;
    // One line per killall the tools ran, with its arguments, across all runs of this sandbox.
    std::string KillallLog() const;
    // The fake drivers' journal of requests since the last call, one line each ("MEMERASE mtd0 0x80000
    // 0x40000 = 0", "ioctl dlog 0x40044401 12 = 0"); emptied by the call.
    std::string TakeFlashJournal() const;
    // The host file behind /dev/dlog, for a source to append to (made by Create, kept across runs).
    std::string DlogPath() const { return hostDirectory_ + "/dlog"; }

    // Starts a tool: argv0 without '/' runs prefix/bin/<argv0>; with a '/' it is the path to run (relative
    // to the working directory). Returns 0, or -1 after printing why. One tool at a time.
    int Start(const std::string &argv0, const std::vector<std::string> &arguments);
    // Runs a tool to its end, stopping it after limit. Returns 0 when it ran (see Status), -1 if not started.
    int Run(const std::string &argv0, const std::vector<std::string> &arguments, std::chrono::milliseconds limit);
    // Waits at most timeout for the tool's end; true when it has ended.
    bool Wait(std::chrono::milliseconds timeout);
    // SIGTERM to the tool, SIGKILL to everything it started after grace; waits for the end.
    void Stop(std::chrono::milliseconds grace = std::chrono::milliseconds(2000));
    // Sends one signal to the tool's process.
    int Signal(int signalNumber) const;
    bool Running() const { return running_; }

    ToolStatus Status() const { return status_; }
    std::string Stdout() const;
    std::string Stderr() const;
    // Both streams in order of arrival, as a terminal would show them.
    std::string Output() const;

    // Card changes under the running tool, at any moment; 0, or -1 after printing why (no tool runs, or the
    // change failed). Pulling a card unmounts /tmp/SD0 (the mount point stays) and then removes /dev/mmcblk0.
    // Inserting one makes /dev/mmcblk0 first and mounts the card after it, as the system does at boot;
    // InsertCardNode and MountCard are the two halves, for a test that looks between them.
    int RemoveCard();
    int InsertCard(const CardSettings &card);
    int InsertCardNode();
    int MountCard(const CardSettings &card);

    // The tool's view of an absolute path, reachable from the host while the tool runs:
    // /proc/<pid>/root/<path>. Empty when no tool runs.
    std::string PathInside(const std::string &path) const;
    pid_t Pid() const { return pid_; }

private:
    Sandbox(SandboxSettings settings, std::string hostDirectory);
    int PrepareHostFiles() const;
    MountPlan BuildMountPlan() const;
    int WriteDriverConfiguration() const;
    void ReadOutput(int stdoutFd, int stderrFd);
    // Carries out the steps in the running tool's mount namespace.
    int ChangeInside(const MountPlan &plan);
    void Reap();

    SandboxSettings settings_;
    const std::string hostDirectory_;
    const std::string workDirectory_;
    std::array<std::unique_ptr<SimPort>, kSerialDeviceCount> unconnectedLines_;

    // Owned by the creating thread.
    pid_t pid_ = -1;
    int pidFd_ = -1;
    bool running_ = false;
    ToolStatus status_;
    std::thread outputReader_;

    mutable std::mutex outputLock_;
    // Guarded by outputLock_: appended by outputReader_, read by the creating thread.
    std::string stdout_;
    std::string stderr_;
    std::string output_;
};

} // namespace tarn::bench
