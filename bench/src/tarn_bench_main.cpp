// tarn-bench: runs one tarn tool in a simulated aircraft and streams what it prints.
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <functional>
#include <getopt.h>
#include <iterator>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "tarn_bench_dlog_source.h"
#include "tarn_bench_flash.h"
#include "tarn_bench_report.h"
#include "tarn_bench_sandbox.h"
#include "tarn_bench_simulators.h"
#include "tarn_byte_order.h"

namespace {

constexpr const char kUsage[] =
    "usage: tarn-bench [scenario options] -- <tool> [arguments...]\n"
    "       tarn-bench demo\n"
    "\n"
    "Runs one tarn tool inside a simulated aircraft and prints its output as it comes.\n"
    "The exit status is the tool's: 128 + the signal when it was killed; 125 when the bench itself failed,\n"
    "2 for a wrong command line.\n"
    "\n"
    "Scenario options:\n"
    "  --hwinfo VALUE      the kernel command line carries hwinfo=VALUE (default: no hwinfo= at all)\n"
    "  --cmdline TEXT      the kernel command line is exactly TEXT (a line feed is added)\n"
    "  --card DIR[,ro][,full]  an SD card is inserted: DIR appears at /tmp/SD0 and /dev/mmcblk0 exists; ro\n"
    "                      mounts it read-only, full gives a copy of DIR with no byte free (kept in the sandbox)\n"
    "  --remove-card SEC   pull the card SEC seconds after the start: /tmp/SD0 unmounted, /dev/mmcblk0 removed\n"
    "  --insert-card SEC[,DIR][,ro][,full]  put a card in at SEC seconds (default DIR: the --card one):\n"
    "                      /dev/mmcblk0 first, the mount --mount-delay later (repeatable, as is --remove-card)\n"
    "  --mount-delay MS    time from a card's device node to its mount (default 500)\n"
    "  --dlog RATE         a kernel log device /dev/dlog, fed by a source of RATE bytes per second; the fake\n"
    "                      driver hands each byte out once and journals the requests\n"
    "  --time-limit SEC    stop the tool (SIGTERM) after SEC seconds: for tools that run until killed\n"
    "  --file PATH         copy PATH into the tool's working directory (repeatable)\n"
    "  --sim NAME[:PORT]   put simulator NAME on /dev/ttyS<PORT> (default: its usual port; repeatable)\n"
    "  --knob NAME=VALUE   turn a knob of the last --sim (its description lists them; repeatable)\n"
    "  --line-rate RATE    pace every simulator's line at RATE bytes per second both ways (11520: 115200 baud)\n"
    "  --floor WAITS       after the tool, print each paced line's floor beside the wall time: every byte both\n"
    "                      ways at the line rate plus WAITS seconds of waits the protocol orders\n"
    "  --trace FILE        after the tool, write what crossed every simulator's line to FILE, one write or\n"
    "                      read a line: port, T (from the tool) or S (to it), seconds, byte count\n"
    "  --prefix DIR        the install to run, holding bin/tarn (default: the folder above tarn-bench's bin/)\n"
    "  --qemu              that install is a static AArch64 build: run it under qemu-aarch64-static\n"
    "  --flash BOARD       the computer's NAND as on BOARD (hi3519: mtd0..mtd7, dm368: mtd0..mtd4), 2048-byte\n"
    "                      pages, 128 KiB erase blocks, played by a fake MTD driver preloaded into the tool\n"
    "  --images DIR        keep the flash images in DIR (mtdN.img, made where missing; default: a scratch\n"
    "                      directory removed at the end)\n"
    "  --bad-block N       erase block N of the whole chip is bad (counted from 0 at mtd0; repeatable)\n"
    "  --env FILE          write a boot-loader environment of FILE's name=value lines at 0x80000 first\n"
    "  --fault LINE        a line for the fake driver (repeatable): 'cut write N' / 'cut erase N' (power fails\n"
    "                      during the Nth page write or erase: half programmed or erased, the tool killed),\n"
    "                      'fail write N', 'fail erase N', 'mismatch N' (the Nth read comes back different)\n"
    "  --reboot            the kernel command line is what the environment's bootargs says (after --env)\n"
    "  --boot-check        after the tool, say which set a hi3519's boot loader would start\n"
    "  --vm                run it all in a VM on the Linux kernel's own drivers (the flash is its NAND\n"
    "                      simulator; simulators stay on pseudo-terminals): qemu-system-x86_64 and\n"
    "                      busybox-static, the kernel fetched once (share/tarn-bench/vm/kernel.sh)\n"
    "  --nandsim MODULE    the flash is the kernel's NAND simulator, loaded from MODULE (what --vm runs)\n"
    "  --help              this text\n"
    "\n"
    "Serial lines without a simulator are connected to nothing.\n";

enum Option {
    kHwinfo = 1,
    kCmdline,
    kCard,
    kFile,
    kSim,
    kKnob,
    kPrefix,
    kQemu,
    kFlash,
    kImages,
    kBadBlock,
    kEnv,
    kFault,
    kReboot,
    kBootCheck,
    kRemoveCard,
    kInsertCard,
    kMountDelay,
    kTimeLimit,
    kDlog,
    kVm,
    kNandsim,
    kLineRate,
    kFloor,
    kTrace,
    kHelp
};

constexpr option kOptions[] = {
    {"hwinfo", required_argument, nullptr, kHwinfo},
    {"cmdline", required_argument, nullptr, kCmdline},
    {"card", required_argument, nullptr, kCard},
    {"file", required_argument, nullptr, kFile},
    {"sim", required_argument, nullptr, kSim},
    {"prefix", required_argument, nullptr, kPrefix},
    {"knob", required_argument, nullptr, kKnob},
    {"qemu", no_argument, nullptr, kQemu},
    {"flash", required_argument, nullptr, kFlash},
    {"images", required_argument, nullptr, kImages},
    {"bad-block", required_argument, nullptr, kBadBlock},
    {"env", required_argument, nullptr, kEnv},
    {"fault", required_argument, nullptr, kFault},
    {"reboot", no_argument, nullptr, kReboot},
    {"boot-check", no_argument, nullptr, kBootCheck},
    {"remove-card", required_argument, nullptr, kRemoveCard},
    {"insert-card", required_argument, nullptr, kInsertCard},
    {"mount-delay", required_argument, nullptr, kMountDelay},
    {"time-limit", required_argument, nullptr, kTimeLimit},
    {"dlog", required_argument, nullptr, kDlog},
    {"vm", no_argument, nullptr, kVm},
    {"nandsim", required_argument, nullptr, kNandsim},
    {"line-rate", required_argument, nullptr, kLineRate},
    {"floor", required_argument, nullptr, kFloor},
    {"trace", required_argument, nullptr, kTrace},
    {"help", no_argument, nullptr, kHelp},
    {nullptr, 0, nullptr, 0},
};

constexpr int kBenchFailed = 125;
constexpr const char kQemuProgram[] = "qemu-aarch64-static";
constexpr uint16_t kElfMachineAarch64 = 183;

struct SimulatorRequest {
    const tarn::bench::SimulatorKind *kind;
    int port;
    std::vector<std::pair<std::string, std::string>> knobs;
};

// A card change at a time after the tool's start.
struct CardChange {
    std::chrono::milliseconds at;
    bool insert;
    tarn::bench::CardSettings card; // inserted; an empty directory: the --card one
};

// What happens while a tool runs: card changes at their times, and a limit after which it is stopped.
struct RunEvents {
    std::vector<CardChange> cardChanges;
    std::chrono::milliseconds timeLimit{0}; // 0: none
};

struct Scenario {
    std::string kernelCommandLine = tarn::bench::kPlainKernelCommandLine;
    tarn::bench::CardSettings card;
    RunEvents events;
    std::chrono::milliseconds mountDelay{500};
    uint32_t dlogRate = 0; // bytes per second of the kernel-log source; 0: no /dev/dlog
    std::vector<std::string> files;
    std::vector<SimulatorRequest> simulators;
    std::string prefix;
    bool qemu = false;
    std::string flashBoard; // empty: no flash
    std::string imageDirectory;
    std::vector<uint32_t> badBlocks;
    std::string environmentFile;
    std::vector<std::string> environment; // name=value, written before the tool runs
    std::vector<std::string> faults;      // the fake driver's fault lines
    bool reboot = false;
    bool bootCheck = false;
    bool vm = false;
    std::string nandsim;                      // the kernel's NAND simulator module plays the flash
    uint32_t lineRate = 0;                    // every simulator's line, bytes per second; 0: unpaced
    std::chrono::milliseconds floorWaits{-1}; // the protocol's waits for the floor line; negative: no floor line
    std::string tracePath;                    // empty: no trace
};

// One step of the demo: what it shows, then the tool and its arguments.
struct DemoStep {
    const char *explanation;
    const char *tool;
    std::vector<std::string> arguments;
    const char *kernelCommandLine = nullptr; // this step's /proc/cmdline; nullptr: the demo aircraft's
    RunEvents events = {};                   // inserted cards without a directory are the demo's card
    const char *line0Simulator = nullptr;    // who plays /dev/ttyS0 for this step; nullptr: the aircraft's
};

// The image the demo's upgrade_fmu step writes, placed in the working directory.
constexpr const char kDemoFirmware[] = "fmu_demo.bin";
// The image the demo flashes into the gimbal's gmu: the same bytes under another name.
constexpr const char kDemoGimbalFirmware[] = "gmu_demo.bin";
constexpr size_t kDemoFirmwareSize = 1024;
// The small release the demo merges: boot loader, kernel, root and application file systems.
constexpr const char *kDemoRelease[] = {"u-boot.bin", "uImage", "rootfs.ubi", "appfs.ubi"};
constexpr size_t kDemoReleaseSizes[] = {4096, 20000, 65536, 8192};
// Stands in the steps for the merged image's name, which carries today's date.
constexpr const char kDemoReleaseName[] = "@release";
// Steps that are no tool: the bench's boot check, the fake drivers' journal of log requests, the demo card's
// log folder.
constexpr const char kDemoBootCheck[] = "boot-check";
constexpr const char kDemoJournal[] = "journal";
constexpr const char kDemoCardListing[] = "card-listing";
// The kernel log's rate in the demo, bytes per second.
constexpr uint32_t kDemoLogRate = 2000;
constexpr const char kDemoSet1CommandLine[] =
    "mem=512M console=ttyAMA0,115200 hwinfo=COMM ubi.mtd=2 root=ubi0:rootfs rootfstype=ubifs\n";
// The demo computer's boot loader environment, on a hi3519 flash map.
const std::vector<std::string> kDemoEnvironment = {
    "bootargs=mem=512M console=ttyAMA0,115200 ubi.mtd=2 root=ubi0:rootfs rootfstype=ubifs",
    "bootcmd=nand read 0x82000000 0x100000 0xa00000;bootm 0x82000000", "bootpart=0"};

const std::vector<DemoStep> kDemoSteps = {
    {"The banner: the build's date and time, then the 24 tools this one executable carries.", "tarn", {}},
    {"msleep waits the given number of milliseconds, 250 here.", "msleep", {"250"}},
    {"Without an argument it prints its usage line (the same for msleep and usleep) and exits with 0.", "msleep", {}},
    {"The self-tests of the semaphore module: test1 waits on a semaphore that test2 posts after its five lines.",
     "unitest",
     {"-m", "sem"}},
    {"The gimbal board console over one link: the IMU firmware version, then the follow mode (one 100 ms poll "
     "each).",
     "xtb_debug",
     {"-v", "2", "-g", "1"}},
    {"Set the gimbal's pose angles (pitch -10, roll 0, yaw 10) and read them back; a set with a word too many is "
     "refused before anything is sent.",
     "xtb_debug",
     {"-s", "4 -10 0 10", "-g", "42", "-s", "1 1 1"}},
    {"The project comes from hwinfo= on the kernel command line: on a computer whose boot loader passes none, "
     "the console cannot tell which line leads to the gimbal and fails.",
     "xtb_debug",
     {"-g", "1"},
     tarn::bench::kPlainKernelCommandLine},
    {"Flash the gimbal's gmu over the board's line: flag, prepare, erase, the 1 KiB image in 240-byte chunks with "
     "progress, the image CRC checked by the part, go to app.",
     "xtb_debug",
     {"-u", std::string("1 ") + kDemoGimbalFirmware}},
    {"dlog sends the kernel's log driver one request per option, in the order given: a pid as an integer, a "
     "process name as text, log information as two requests without argument; -s is accepted and ignored.",
     "dlog",
     {"-p", "12", "-n", "media srv", "-i", "-s", "x"}},
    {"What the driver received (the bench's fake driver journals every request with its argument):", kDemoJournal, {}},
    {"dlogger copies the kernel log to the SD card, which already holds dlog_0003: it writes dlog_0004. The card "
     "is pulled at 2 s and put back at 3 s (its device node first, the mount half a second later): dlogger warns, "
     "waits, and goes on in dlog_0005, leaving dlog_0004 as it was. The bench stops it at 6 s.",
     "dlogger",
     {},
     nullptr,
     {{{std::chrono::milliseconds(2000), false, {}}, {std::chrono::milliseconds(3000), true, {}}},
      std::chrono::milliseconds(6000)}},
    {"The card's log folder afterwards: every byte of the log once, in two files.", kDemoCardListing, {}},
    {"mcu_dlogger records what the microcontroller on /dev/ttyS1 prints (numbered lines, 11520 bytes/s) into the "
     "card's log folder, as mculog_0001. The card is pulled at 2 s and put back at 3 s: the file is closed, the "
     "16384-byte queue holds the log meanwhile, and the same file goes on. The bench stops it at 5 s.",
     "mcu_dlogger",
     {"-u", "1", "-d", "/tmp/SD0/DCIM/DLOG", "-f", "mculog"},
     nullptr,
     {{{std::chrono::milliseconds(2000), false, {}}, {std::chrono::milliseconds(3000), true, {}}},
      std::chrono::milliseconds(5000)}},
    {"The folder now holds mculog_0001 too: about five seconds of the line, nothing lost across the card change.",
     kDemoCardListing,
     {}},
    {"The boot loader's environment in the computer's NAND (a fake MTD driver plays the flash): every variable.",
     "priuenv",
     {}},
    {"Set a variable: one read of the 256 KiB block, the change, a bad-block check, one erase, one write and a "
     "read-back. Then read it again.",
     "setuenv",
     {"bootdelay", "3"}},
    {"", "priuenv", {"bootdelay"}},
    {"Merge a small release into one image (each component behind a head with its size and CRC), named after "
     "today's UTC date.",
     "binmerge",
     {"-f", "orvox", "-v", "1.0", "-u", kDemoRelease[0], "-k", kDemoRelease[1], "-r", kDemoRelease[2], "-p",
      kDemoRelease[3]}},
    {"Write that release into the set that is not running (set 1 runs: ubi.mtd=2 on the kernel command line): "
     "the whole image checked first, then each component erased, written page by page and read back, then one "
     "environment write switches to set 2. The boot-loader write leaves the environment's blocks alone.",
     "upgrade_hi3519",
     {"-a", kDemoReleaseName},
     kDemoSet1CommandLine},
    {"What the boot loader would do now: the environment's CRC, bootargs, bootcmd and the set's images.",
     kDemoBootCheck,
     {}},
    {"Until the board reboots into set 2, a second upgrade is refused before it erases anything (set 2 is waiting "
     "to boot; writing it again could leave it half written).",
     "upgrade_hi3519",
     {"-a", kDemoReleaseName},
     kDemoSet1CommandLine},
    {"The flight controller's telemetry console: the attitude and heartbeat lines every 600 ms while every "
     "MAVLink message is dumped in hex (checksum first, then the frame); it runs until it is stopped, here after "
     "3 s.",
     "fmu_debug",
     {"-g", "1", "-g", "12", "-r"},
     nullptr,
     {{}, std::chrono::milliseconds(3000)},
     "telemetry"},
    {"The flight controller's firmware upgrade: restart into the bootloader, sync, erase, program a 1 KiB image "
     "in 60-byte chunks with progress, check the CRC, restart. Most of its 16 s are the protocol's own waits.",
     "upgrade_fmu",
     {kDemoFirmware}},
};

// The demo's aircraft: these simulators on their usual ports, and a project that wires them there.
constexpr const char *kDemoSimulators[] = {"gimbal", "fmu-bootloader", "mcu-log"};
constexpr const char kDemoKernelCommandLine[] = "mem=512M console=ttyAMA0,115200 hwinfo=COMM\n";

volatile sig_atomic_t stopRequested = 0;

void RequestStop(int) {
    stopRequested = 1;
}

// Exits after printing the usage's first line when the command line is wrong.
[[noreturn]] void UsageError(const char *format, const char *detail) {
    fprintf(stderr, "tarn-bench: ");
    fprintf(stderr, format, detail);
    fprintf(stderr, "\n%.*s", static_cast<int>(strchr(kUsage, '\n') - kUsage + 1), kUsage);
    exit(2);
}

std::string DefaultPrefix() {
    char path[4096];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0) {
        return ".";
    }
    std::string executable(path, static_cast<size_t>(length));
    const std::string bin = executable.substr(0, executable.rfind('/'));
    return bin.substr(0, bin.rfind('/'));
}

bool IsAarch64Executable(const std::string &path) {
    unsigned char header[20] = {};
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    const bool complete = fd >= 0 && read(fd, header, sizeof header) == static_cast<ssize_t>(sizeof header);
    if (fd >= 0) {
        close(fd);
    }
    return complete && memcmp(header, "\177ELF", 4) == 0 && tarn::LoadLe16(header + 18) == kElfMachineAarch64;
}

SimulatorRequest ParseSimulator(const char *text) {
    const std::string request = text;
    const size_t colon = request.find(':');
    const tarn::bench::SimulatorKind *kind = tarn::bench::FindSimulatorKind(request.substr(0, colon));
    if (kind == nullptr) {
        UsageError("no simulator named '%s' (see --help)", text);
    }
    int port = kind->defaultPort;
    if (colon != std::string::npos) {
        char *end = nullptr;
        port = static_cast<int>(strtol(request.c_str() + colon + 1, &end, 10));
        if (end == request.c_str() + colon + 1 || *end != '\0' || port < 0 || port >= tarn::bench::kSerialDeviceCount) {
            UsageError("'%s': the port is a number from 0 to 4", text);
        }
    }
    return {kind, port, {}};
}

// Seconds (fractions allowed) as milliseconds; exits with the usage when the text is not such a number.
std::chrono::milliseconds ParseSeconds(const char *option, const std::string &text) {
    char *end = nullptr;
    const double seconds = strtod(text.c_str(), &end);
    if (end == text.c_str() || *end != '\0' || !(seconds >= 0 && seconds < 1e6)) {
        UsageError(option, text.c_str());
    }
    return std::chrono::milliseconds(static_cast<long long>(seconds * 1000 + 0.5));
}

// "WORD[,DIR][,ro][,full]": the words after the first set the card's flags and, where a directory may follow
// (withDirectory), its directory; returns the first word.
std::string ParseCard(const char *option, const char *text, bool withDirectory, tarn::bench::CardSettings &card) {
    std::vector<std::string> words;
    std::string rest = text;
    for (size_t comma; (comma = rest.find(',')) != std::string::npos; rest = rest.substr(comma + 1)) {
        words.push_back(rest.substr(0, comma));
    }
    words.push_back(rest);
    for (size_t index = 1; index < words.size(); ++index) {
        if (words[index] == "ro") {
            card.readOnly = true;
        } else if (words[index] == "full") {
            card.full = true;
        } else if (withDirectory && card.directory.empty()) {
            card.directory = words[index];
        } else {
            UsageError(option, text);
        }
    }
    return words[0];
}

// Parses the options before "--" (or before the tool); returns the index of the tool in argv.
int ParseScenario(int argc, char *argv[], Scenario &scenario) {
    for (int option; (option = getopt_long(argc, argv, "+", kOptions, nullptr)) != -1;) {
        switch (option) {
            case kHwinfo:
                scenario.kernelCommandLine = "mem=512M console=ttyAMA0,115200 hwinfo=" + std::string(optarg) + "\n";
                break;
            case kCmdline:
                scenario.kernelCommandLine = std::string(optarg) + "\n";
                break;
            case kCard:
                scenario.card = {};
                scenario.card.directory = ParseCard("--card '%s': DIR[,ro][,full]", optarg, false, scenario.card);
                break;
            case kRemoveCard:
                scenario.events.cardChanges.push_back({ParseSeconds("--remove-card '%s': seconds", optarg), false, {}});
                break;
            case kInsertCard: {
                CardChange change{{}, true, {}};
                change.at =
                    ParseSeconds("--insert-card '%s': SEC[,DIR][,ro][,full]",
                                 ParseCard("--insert-card '%s': SEC[,DIR][,ro][,full]", optarg, true, change.card));
                scenario.events.cardChanges.push_back(change);
                break;
            }
            case kMountDelay:
                scenario.mountDelay = ParseSeconds("--mount-delay '%s': milliseconds", optarg) / 1000;
                break;
            case kDlog: {
                char *end = nullptr;
                const unsigned long rate = strtoul(optarg, &end, 10);
                if (end == optarg || *end != '\0' || rate == 0 || rate > 10000000) {
                    UsageError("--dlog '%s': bytes per second, 1 to 10000000", optarg);
                }
                scenario.dlogRate = static_cast<uint32_t>(rate);
                break;
            }
            case kLineRate: {
                char *end = nullptr;
                const unsigned long rate = strtoul(optarg, &end, 10);
                if (end == optarg || *end != '\0' || rate == 0 || rate > 10000000) {
                    UsageError("--line-rate '%s': bytes per second, 1 to 10000000", optarg);
                }
                scenario.lineRate = static_cast<uint32_t>(rate);
                break;
            }
            case kFloor:
                scenario.floorWaits = ParseSeconds("--floor '%s': seconds", optarg);
                break;
            case kTrace:
                scenario.tracePath = optarg;
                break;
            case kTimeLimit:
                scenario.events.timeLimit = ParseSeconds("--time-limit '%s': seconds", optarg);
                break;
            case kFile:
                scenario.files.push_back(optarg);
                break;
            case kSim:
                scenario.simulators.push_back(ParseSimulator(optarg));
                break;
            case kKnob: {
                const char *equals = strchr(optarg, '=');
                if (scenario.simulators.empty() || equals == nullptr) {
                    UsageError("--knob '%s': NAME=VALUE, after the --sim it turns", optarg);
                }
                scenario.simulators.back().knobs.emplace_back(std::string(optarg, static_cast<size_t>(equals - optarg)),
                                                              std::string(equals + 1));
                break;
            }
            case kPrefix:
                scenario.prefix = optarg;
                break;
            case kQemu:
                scenario.qemu = true;
                break;
            case kFlash:
                if (tarn::bench::FlashBoardLayout(optarg) == nullptr) {
                    UsageError("--flash '%s': the board is hi3519 or dm368", optarg);
                }
                scenario.flashBoard = optarg;
                break;
            case kImages:
                scenario.imageDirectory = optarg;
                break;
            case kBadBlock: {
                char *end = nullptr;
                const unsigned long block = strtoul(optarg, &end, 0);
                if (end == optarg || *end != '\0' || block > UINT32_MAX) {
                    UsageError("--bad-block '%s': a block number", optarg);
                }
                scenario.badBlocks.push_back(static_cast<uint32_t>(block));
                break;
            }
            case kEnv:
                scenario.environmentFile = optarg;
                break;
            case kFault:
                scenario.faults.push_back(optarg);
                break;
            case kReboot:
                scenario.reboot = true;
                break;
            case kBootCheck:
                scenario.bootCheck = true;
                break;
            case kVm:
                scenario.vm = true;
                break;
            case kNandsim:
                scenario.nandsim = optarg;
                break;
            case kHelp:
                fputs(kUsage, stdout);
                for (const tarn::bench::SimulatorKind &kind : tarn::bench::SimulatorKinds()) {
                    printf("  simulator %-16s /dev/ttyS%d  %s\n", kind.name, kind.defaultPort, kind.description);
                }
                exit(0);
            default:
                UsageError("%s", "unknown option");
        }
    }
    if (optind >= argc) {
        UsageError("%s", "no tool given");
    }
    if (scenario.floorWaits.count() >= 0 && scenario.lineRate == 0) {
        UsageError("%s", "--floor needs --line-rate");
    }
    for (CardChange &change : scenario.events.cardChanges) {
        if (change.insert && change.card.directory.empty()) {
            change.card.directory = scenario.card.directory;
        }
        if (change.insert && change.card.directory.empty()) {
            UsageError("%s", "--insert-card without a directory needs --card");
        }
    }
    if (scenario.flashBoard.empty() &&
        (!scenario.imageDirectory.empty() || !scenario.badBlocks.empty() || !scenario.environmentFile.empty() ||
         !scenario.faults.empty() || scenario.reboot || scenario.bootCheck)) {
        UsageError("%s", "--images, --bad-block, --env, --fault, --reboot and --boot-check need --flash");
    }
    return optind;
}

// The running side of a scenario: its lines, their simulators and the sandbox.
class Bench {
public:
    int Open(const Scenario &scenario) {
        tarn::bench::SandboxSettings settings;
        const std::string prefix = scenario.prefix.empty() ? DefaultPrefix() : scenario.prefix;
        if (scenario.qemu && !IsAarch64Executable(prefix + "/bin/tarn")) {
            tarn::bench::ReportError("--qemu: %s/bin/tarn is not an AArch64 build", prefix.c_str());
            return -1;
        }
        settings.install = tarn::bench::MakeToolInstall(prefix, scenario.qemu ? kQemuProgram : "");
        settings.kernelCommandLine = scenario.kernelCommandLine;
        kernelCommandLine_ = scenario.kernelCommandLine; // --reboot replaces it from the environment
        settings.card = scenario.card;
        settings.captureOutput = false;
        mountDelay_ = scenario.mountDelay;
        settings.dlog.present = scenario.dlogRate > 0;
        if (!scenario.flashBoard.empty() && OpenFlash(scenario, settings.flash) != 0) {
            return -1;
        }
        for (const SimulatorRequest &request : scenario.simulators) {
            std::unique_ptr<tarn::bench::SimPort> line = tarn::bench::SimPort::Create();
            if (line == nullptr) {
                return -1;
            }
            std::unique_ptr<tarn::bench::Simulator> simulator = request.kind->create(*line);
            if (settings.serial[request.port] != nullptr || simulator == nullptr) {
                tarn::bench::ReportError("cannot put %s on /dev/ttyS%d", request.kind->name, request.port);
                return -1;
            }
            for (const auto &[name, value] : request.knobs) {
                if (simulator->SetKnob(name, value) != 0) {
                    tarn::bench::ReportError("%s has no knob %s=%s", request.kind->name, name.c_str(), value.c_str());
                    return -1;
                }
            }
            if (scenario.lineRate != 0) {
                simulator->SetLineRate(scenario.lineRate);
            }
            if (simulator->Start() != 0) {
                tarn::bench::ReportError("cannot start %s on /dev/ttyS%d", request.kind->name, request.port);
                return -1;
            }
            settings.serial[request.port] = line.get();
            lines_.push_back(std::move(line));
            simulators_.push_back(std::move(simulator));
            ports_.push_back(request.port);
            kinds_.push_back(request.kind);
        }
        sandbox_ = tarn::bench::Sandbox::Create(std::move(settings));
        if (sandbox_ == nullptr) {
            return -1;
        }
        if (scenario.dlogRate > 0) {
            dlogSource_ = std::make_unique<tarn::bench::DlogSource>(sandbox_->DlogPath(), scenario.dlogRate);
            if (dlogSource_->Start() != 0) {
                return -1;
            }
        }
        for (const std::string &file : scenario.files) {
            if (sandbox_->PlaceFile(file) != 0) {
                return -1;
            }
        }
        return 0;
    }

    // Writes a file of the given bytes into the tool's working directory; 0, or -1 after saying why.
    int WriteFile(const std::string &name, const std::vector<uint8_t> &bytes) const {
        const std::string path = sandbox_->WorkDirectory() + "/" + name;
        const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        const bool written = fd >= 0 && write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
        if (fd >= 0) {
            close(fd);
        }
        if (!written) {
            tarn::bench::ReportSystemError(("write " + path).c_str());
            return -1;
        }
        return 0;
    }

    // Runs the tool with the bench's own standard streams, under the scenario's kernel command line or the one
    // given; returns its exit status.
    int Run(const std::string &tool, const std::vector<std::string> &arguments, const RunEvents &events,
            const char *kernelCommandLine = nullptr) {
        sandbox_->Settings().kernelCommandLine = kernelCommandLine != nullptr ? kernelCommandLine : kernelCommandLine_;
        fflush(stdout);
        if (sandbox_->Start(tool, arguments) != 0) {
            return kBenchFailed;
        }
        const auto start = std::chrono::steady_clock::now();
        // Each card change becomes one or two timed steps: the node, then the mount.
        std::vector<std::pair<std::chrono::milliseconds, std::function<int()>>> steps;
        for (const CardChange &change : events.cardChanges) {
            if (!change.insert) {
                steps.emplace_back(change.at, [this] { return sandbox_->RemoveCard(); });
                continue;
            }
            steps.emplace_back(change.at, [this] { return sandbox_->InsertCardNode(); });
            steps.emplace_back(change.at + mountDelay_,
                               [this, card = change.card] { return sandbox_->MountCard(card); });
        }
        std::stable_sort(steps.begin(), steps.end(), [](const auto &a, const auto &b) { return a.first < b.first; });
        size_t next = 0;
        bool stopping = false;
        while (!sandbox_->Wait(std::chrono::milliseconds(20))) {
            const auto elapsed = std::chrono::steady_clock::now() - start;
            for (; next < steps.size() && elapsed >= steps[next].first; ++next) {
                (void)steps[next].second(); // a failed change is reported, and the tool meets what is there
            }
            if (!stopping && (stopRequested || (events.timeLimit.count() > 0 && elapsed >= events.timeLimit))) {
                stopping = true;
                sandbox_->Stop();
            }
        }
        lastWall_ = std::chrono::steady_clock::now() - start;
        const tarn::bench::ToolStatus status = sandbox_->Status();
        return status.exited ? status.code : 128 + status.signalNumber;
    }

    // Every line's log, timed from the first entry of any line; 0, or -1 after saying why.
    int WriteTrace(const std::string &path) const {
        FILE *trace = fopen(path.c_str(), "we");
        if (trace == nullptr) {
            tarn::bench::ReportSystemError(("open " + path).c_str());
            return -1;
        }
        std::vector<std::vector<tarn::bench::PortLogEntry>> logs;
        std::chrono::steady_clock::time_point origin = std::chrono::steady_clock::time_point::max();
        for (const std::unique_ptr<tarn::bench::SimPort> &line : lines_) {
            logs.push_back(line->Log());
            if (!logs.back().empty()) {
                origin = std::min(origin, logs.back().front().at);
            }
        }
        for (size_t index = 0; index < logs.size(); ++index) {
            for (const tarn::bench::PortLogEntry &entry : logs[index]) {
                fprintf(trace, "%d %c %.6f %zu\n", ports_[index], entry.side == tarn::bench::PortSide::Tool ? 'T' : 'S',
                        std::chrono::duration<double>(entry.at - origin).count(), entry.bytes.size());
            }
        }
        if (fclose(trace) != 0) {
            tarn::bench::ReportSystemError(("write " + path).c_str());
            return -1;
        }
        return 0;
    }

    // On standard error, each paced line's floor for what crossed it beside the last run's wall time.
    void ReportFloors(std::chrono::milliseconds waits) const {
        for (size_t index = 0; index < lines_.size(); ++index) {
            const uint32_t rate = lines_[index]->LineRate();
            if (rate == 0) {
                continue;
            }
            const tarn::bench::LineFloor floor = tarn::bench::FloorOf(lines_[index]->Log(), rate, waits);
            fprintf(stderr, "tarn-bench: /dev/ttyS%d: %s\n", ports_[index],
                    tarn::bench::DescribeFloor(floor, rate, lastWall_).c_str());
        }
    }

    // The fake drivers' journal since the last call.
    std::string TakeJournal() const { return sandbox_->TakeFlashJournal(); }

    // The simulator on a port's line; nullptr for none.
    const tarn::bench::SimulatorKind *KindOn(int port) const {
        for (size_t index = 0; index < ports_.size(); ++index) {
            if (ports_[index] == port) {
                return kinds_[index];
            }
        }
        return nullptr;
    }

    // Puts another simulator on the line of a port, in place of the one there; 0, or -1 after saying why.
    int Replace(int port, const tarn::bench::SimulatorKind *kind) {
        for (size_t index = 0; index < ports_.size(); ++index) {
            if (ports_[index] != port) {
                continue;
            }
            simulators_[index]->Stop();
            std::unique_ptr<tarn::bench::Simulator> simulator = kind->create(*lines_[index]);
            if (simulator == nullptr || simulator->Start() != 0) {
                tarn::bench::ReportError("cannot put %s on /dev/ttyS%d", kind->name, port);
                return -1;
            }
            simulators_[index] = std::move(simulator);
            kinds_[index] = kind;
            return 0;
        }
        tarn::bench::ReportError("no line on /dev/ttyS%d", port);
        return -1;
    }

    ~Bench() {
        dlogSource_.reset();
        sandbox_.reset();
        for (std::unique_ptr<tarn::bench::Simulator> &simulator : simulators_) {
            simulator->Stop();
        }
        if (!scratchImages_.empty()) {
            for (const tarn::bench::FlashDevice &device : flashDevices_) {
                unlink(device.imagePath.c_str());
            }
            rmdir(scratchImages_.c_str());
        }
    }

private:
    // The board's images in the named directory (or a scratch one), and the environment written first.
    int OpenFlash(const Scenario &scenario, tarn::bench::FlashSettings &flash) {
        std::string directory = scenario.imageDirectory;
        if (directory.empty()) {
            char scratch[] = "/var/tmp/tarn-flash.XXXXXX";
            if (mkdtemp(scratch) == nullptr) {
                tarn::bench::ReportSystemError("create a directory under /var/tmp");
                return -1;
            }
            directory = scratchImages_ = scratch;
        }
        const int prepared = scenario.nandsim.empty()
                                 ? tarn::bench::PrepareFlash(scenario.flashBoard, directory, scenario.badBlocks, flash)
                                 : tarn::bench::PrepareKernelFlash(scenario.flashBoard, directory, scenario.nandsim,
                                                                   scenario.badBlocks, flash);
        if (prepared != 0) {
            return -1;
        }
        flashDevices_ = flash.devices;
        std::vector<std::string> variables = scenario.environment;
        if (!scenario.environmentFile.empty() &&
            tarn::bench::ReadVariableLines(scenario.environmentFile, variables) != 0) {
            return -1;
        }
        if (!variables.empty() && tarn::bench::WriteFlash(flash, tarn::bench::kEnvironmentOffset,
                                                          tarn::bench::MakeEnvironment(variables)) != 0) {
            return -1;
        }
        flash.faults = scenario.faults;
        if (scenario.reboot) {
            kernelCommandLine_ = tarn::bench::NextCommandLine(flash);
            if (kernelCommandLine_.empty()) {
                tarn::bench::ReportError("%s", "--reboot: the environment holds no valid bootargs");
                return -1;
            }
        }
        return 0;
    }

public:
    // What the boot loader would start now; the images the sets should hold, when known.
    void ReportBoot(const tarn::bench::BootImages (&sets)[2]) const {
        tarn::bench::FlashSettings flash;
        flash.devices = flashDevices_;
        const tarn::bench::BootCheck check = tarn::bench::CheckHi3519Boot(flash, sets);
        if (!check.environmentValid || check.set == 0) {
            printf("boot check: %s\n", !check.environmentValid
                                           ? "environment CRC or list broken: the board does not boot"
                                           : "bootargs names no set: the board does not boot");
            return;
        }
        const bool known = !sets[check.set - 1].kernel.empty();
        printf("boot check: set %d boots (bootargs ubi.mtd=%d), bootcmd %s, images %s\n", check.set,
               check.set == 1 ? 2 : 5, check.commandAgrees ? "reads its kernel" : "reads ANOTHER kernel",
               !known        ? "not compared"
               : check.whole ? "whole"
                             : "NOT WHOLE");
    }

private:
    // Declaration order is destruction order in reverse: simulators go before the lines they read.
    std::vector<std::unique_ptr<tarn::bench::SimPort>> lines_;
    std::chrono::nanoseconds lastWall_{0}; // the last run's, from the tool's start to its end
    std::vector<std::unique_ptr<tarn::bench::Simulator>> simulators_;
    std::vector<int> ports_;                                // the port of each simulator's line
    std::vector<const tarn::bench::SimulatorKind *> kinds_; // what each line's simulator is
    std::unique_ptr<tarn::bench::Sandbox> sandbox_;
    std::string kernelCommandLine_;
    std::string scratchImages_; // removed with its images at the end
    std::vector<tarn::bench::FlashDevice> flashDevices_;
    std::chrono::milliseconds mountDelay_{0};
    std::unique_ptr<tarn::bench::DlogSource> dlogSource_;
};

// A step without an explanation continues the one before it.
void ShowStep(const char *explanation, const char *tool, const std::vector<std::string> &arguments) {
    if (explanation != nullptr) {
        printf("\n### %s\n", explanation);
    }
    printf("$ %s", tool);
    for (const std::string &argument : arguments) {
        // Quoted as a shell would need it, so the line can be pasted.
        printf(argument.find(' ') == std::string::npos ? " %s" : " '%s'", argument.c_str());
    }
    printf("\n");
}

// The bytes of one component of the demo's release.
std::vector<uint8_t> DemoComponent(size_t part) {
    return std::vector<uint8_t>(kDemoReleaseSizes[part], static_cast<uint8_t>(0x11 * (part + 1)));
}

// binmerge's name for the demo release today.
std::string DemoReleaseFile() {
    const time_t now = time(nullptr);
    tm date{};
    gmtime_r(&now, &date);
    char name[64];
    snprintf(name, sizeof name, "orvox_v1.0_%04d%02d%02d.img", date.tm_year + 1900, date.tm_mon + 1, date.tm_mday);
    return name;
}

// The log requests of a journal, one indented line each.
void ShowLogRequests(const std::string &journal) {
    size_t begin = 0;
    for (size_t end; (end = journal.find('\n', begin)) != std::string::npos; begin = end + 1) {
        const std::string line = journal.substr(begin, end - begin);
        if (line.find(" dlog") != std::string::npos) {
            printf("    %s\n", line.c_str());
        }
    }
}

// The files of a card's log folder with their sizes, in name order.
void ShowLogFolder(const std::string &card) {
    const std::string folder = card + "/DCIM/DLOG";
    std::vector<std::string> names;
    if (DIR *directory = opendir(folder.c_str())) {
        while (const dirent *entry = readdir(directory)) {
            if (entry->d_name[0] != '.') {
                names.push_back(entry->d_name);
            }
        }
        closedir(directory);
    }
    std::sort(names.begin(), names.end());
    for (const std::string &name : names) {
        struct stat file {};
        stat((folder + "/" + name).c_str(), &file);
        printf("    %s  %lld bytes\n", name.c_str(), static_cast<long long>(file.st_size));
    }
}

// The demo's SD card: a scratch folder with a DCIM/DLOG folder holding dlog_0003, removed at the end.
class DemoCard {
public:
    int Make() {
        char scratch[] = "/var/tmp/tarn-card.XXXXXX";
        if (mkdtemp(scratch) == nullptr || mkdir((std::string(scratch) + "/DCIM").c_str(), 0755) != 0 ||
            mkdir((std::string(scratch) + "/DCIM/DLOG").c_str(), 0755) != 0) {
            tarn::bench::ReportSystemError("make the demo card under /var/tmp");
            return -1;
        }
        path_ = scratch;
        const int fd = open((path_ + "/DCIM/DLOG/dlog_0003").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
        return fd < 0 ? -1 : close(fd);
    }
    const std::string &Path() const { return path_; }
    ~DemoCard() {
        if (path_.empty()) {
            return;
        }
        const std::string folder = path_ + "/DCIM/DLOG";
        if (DIR *directory = opendir(folder.c_str())) {
            while (const dirent *entry = readdir(directory)) {
                unlink((folder + "/" + entry->d_name).c_str());
            }
            closedir(directory);
        }
        rmdir(folder.c_str());
        rmdir((path_ + "/DCIM").c_str());
        rmdir(path_.c_str());
    }

private:
    std::string path_;
};

int RunDemo(Bench &bench, const std::string &card) {
    printf("tarn-bench demo: the real tarn, run as on the aircraft's computer, with simulated devices.\n");
    bench.TakeJournal();
    for (const DemoStep &step : kDemoSteps) {
        if (step.tool != nullptr && strcmp(step.tool, kDemoJournal) == 0) {
            printf("\n### %s\n", step.explanation);
            ShowLogRequests(bench.TakeJournal());
            continue;
        }
        if (step.tool != nullptr && strcmp(step.tool, kDemoCardListing) == 0) {
            printf("\n### %s\n", step.explanation);
            ShowLogFolder(card);
            continue;
        }
        if (step.tool != nullptr && strcmp(step.tool, kDemoBootCheck) == 0) {
            printf("\n### %s\n", step.explanation);
            // Set 2 should now hold the release; set 1 holds whatever it held.
            const tarn::bench::BootImages sets[2] = {{}, {DemoComponent(1), DemoComponent(2), DemoComponent(3)}};
            bench.ReportBoot(sets);
            continue;
        }
        const char *tool = step.tool;
        std::vector<std::string> arguments = step.arguments;
        for (std::string &argument : arguments) {
            argument = argument == kDemoReleaseName ? DemoReleaseFile() : argument;
        }
        ShowStep(*step.explanation != '\0' ? step.explanation : nullptr, tool, arguments);
        RunEvents events = step.events;
        for (CardChange &change : events.cardChanges) {
            change.card.directory = change.insert && change.card.directory.empty() ? card : change.card.directory;
        }
        bench.TakeJournal();
        const tarn::bench::SimulatorKind *aircraftLine0 = bench.KindOn(0);
        if (step.line0Simulator != nullptr &&
            bench.Replace(0, tarn::bench::FindSimulatorKind(step.line0Simulator)) != 0) {
            return kBenchFailed;
        }
        const auto start = std::chrono::steady_clock::now();
        const int status = bench.Run(tool, arguments, events, step.kernelCommandLine);
        if (step.line0Simulator != nullptr && bench.Replace(0, aircraftLine0) != 0) {
            return kBenchFailed;
        }
        const auto elapsed =
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
        printf("[exit status %d after %lld ms]\n", status, static_cast<long long>(elapsed.count()));
        if (stopRequested) {
            return status;
        }
    }
    return 0;
}

} // namespace

// Runs this very command in a VM (share/tarn-bench/vm/run.sh of the install): the install and the files the
// options name go along at their absolute paths, and the guest's tarn-bench plays the flash with the kernel's
// NAND simulator. Returns only when the VM could not be started.
int RunInVm(int argc, char *argv[], int toolIndex, const Scenario &scenario) {
    const std::string prefix = scenario.prefix.empty() ? DefaultPrefix() : scenario.prefix;
    const std::string script = prefix + "/share/tarn-bench/vm/run.sh";
    std::vector<std::string> host = {script, "--copy", prefix};
    std::vector<std::string> guest = {prefix + "/bin/tarn-bench", "--nandsim", "/lib/modules/nandsim.ko"};
    for (int index = 1; index < argc; ++index) {
        std::string argument = argv[index];
        const bool path =
            index < toolIndex && (strcmp(argv[index - 1], "--file") == 0 || strcmp(argv[index - 1], "--env") == 0 ||
                                  strcmp(argv[index - 1], "--card") == 0);
        if (path) {
            char *absolute = realpath(argument.c_str(), nullptr);
            if (absolute == nullptr) {
                tarn::bench::ReportSystemError(argument.c_str());
                return kBenchFailed;
            }
            argument = absolute;
            free(absolute);
            host.insert(host.end(), {"--copy", argument});
        }
        if (index >= toolIndex || argument != "--vm") {
            guest.push_back(argument);
        }
    }
    host.push_back("--");
    host.insert(host.end(), guest.begin(), guest.end());
    std::vector<char *> words;
    for (std::string &word : host) {
        words.push_back(word.data());
    }
    words.push_back(nullptr);
    fflush(stdout);
    execv(script.c_str(), words.data());
    tarn::bench::ReportSystemError(("run " + script).c_str());
    return kBenchFailed;
}

int main(int argc, char *argv[]) {
    signal(SIGINT, RequestStop);
    signal(SIGTERM, RequestStop);
    Scenario scenario;
    const bool demo = argc == 2 && strcmp(argv[1], "demo") == 0;
    const int toolIndex = demo ? argc : ParseScenario(argc, argv, scenario);
    if (scenario.vm) {
        return RunInVm(argc, argv, toolIndex, scenario);
    }
    if (demo) {
        scenario.kernelCommandLine = kDemoKernelCommandLine;
        for (const char *name : kDemoSimulators) {
            scenario.simulators.push_back(ParseSimulator(name));
        }
        scenario.flashBoard = "hi3519";
        scenario.environment = kDemoEnvironment;
        scenario.dlogRate = kDemoLogRate;
    }
    DemoCard demoCard;
    if (demo) {
        if (demoCard.Make() != 0) {
            return kBenchFailed;
        }
        scenario.card.directory = demoCard.Path();
    }

    Bench bench;
    if (bench.Open(scenario) != 0) {
        return kBenchFailed;
    }
    if (demo) {
        std::vector<uint8_t> firmware(kDemoFirmwareSize);
        for (size_t index = 0; index < firmware.size(); ++index) {
            firmware[index] = static_cast<uint8_t>(index * 7);
        }
        if (bench.WriteFile(kDemoFirmware, firmware) != 0 || bench.WriteFile(kDemoGimbalFirmware, firmware) != 0) {
            return kBenchFailed;
        }
        for (size_t part = 0; part < std::size(kDemoRelease); ++part) {
            if (bench.WriteFile(kDemoRelease[part], DemoComponent(part)) != 0) {
                return kBenchFailed;
            }
        }
        return RunDemo(bench, demoCard.Path());
    }
    const int status =
        bench.Run(argv[toolIndex], std::vector<std::string>(argv + toolIndex + 1, argv + argc), scenario.events);
    if (scenario.bootCheck) {
        const tarn::bench::BootImages unknown[2] = {};
        bench.ReportBoot(unknown);
    }
    if (scenario.floorWaits.count() >= 0) {
        bench.ReportFloors(scenario.floorWaits);
    }
    if (!scenario.tracePath.empty() && bench.WriteTrace(scenario.tracePath) != 0) {
        return kBenchFailed;
    }
    return status;
}
