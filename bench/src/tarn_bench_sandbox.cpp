#include "tarn_bench_sandbox.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <elf.h>
#include <fcntl.h>
#include <ftw.h>
#include <link.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>

#include "tarn_bench_report.h"

extern char **environ;

namespace tarn::bench {

namespace {

constexpr const char *kKillallCandidates[] = {"/usr/bin/killall", "/bin/killall", "/usr/sbin/killall", "/sbin/killall"};
constexpr const char kSandboxPathTail[] = ":/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin";
constexpr std::chrono::milliseconds kKilledToolGrace{10000};
// Where an install keeps the fake MTD driver, beside bin/.
constexpr const char kFakeMtdLibrary[] = "lib/tarn-bench/libtarn_fake_mtd.so";
constexpr const char kCardMountPoint[] = "/tmp/SD0";
constexpr const char kCardNode[] = "/dev/mmcblk0";
// Room on a full card beyond the copy of its files, all of it taken by a filler.
constexpr off_t kFullCardSlack = 64 * 1024;

// What a forked child reports through its close-on-exec pipe when it cannot reach exec.
struct ChildFailure {
    int error;
    char what[200];
};

// Everything the child needs, prepared before fork: the child only makes system calls.
struct LaunchPlan {
    std::string executable;
    std::vector<std::string> argumentStorage;
    std::vector<std::string> environmentStorage;
    std::vector<char *> argv;
    std::vector<char *> envp;
    std::string workDirectory;
    MountPlan mounts;
    std::vector<std::string> stepDescriptions;
    NamespaceIdentity identity;
    int input = -1; // -1: inherit
    int output = -1;
    int errors = -1;
};

struct FileDescriptor {
    explicit FileDescriptor(int descriptor) : fd(descriptor) {}
    ~FileDescriptor() {
        if (fd >= 0) {
            close(fd);
        }
    }
    FileDescriptor(const FileDescriptor &) = delete;
    FileDescriptor &operator=(const FileDescriptor &) = delete;
    int fd;
};

// A close-on-exec pipe whose ends close with the holder unless taken.
struct PipeEnds {
    ~PipeEnds() {
        CloseWrite();
        if (read >= 0) {
            close(read);
        }
    }
    int Open() {
        int ends[2];
        if (pipe2(ends, O_CLOEXEC) != 0) {
            return -1;
        }
        read = ends[0];
        write = ends[1];
        return 0;
    }
    void CloseWrite() {
        if (write >= 0) {
            close(write);
            write = -1;
        }
    }
    int TakeRead() {
        const int end = read;
        read = -1;
        return end;
    }
    int read = -1;
    int write = -1;
};

std::vector<char *> PointersTo(std::vector<std::string> &strings) {
    std::vector<char *> pointers;
    pointers.reserve(strings.size() + 1);
    for (std::string &text : strings) {
        pointers.push_back(text.data());
    }
    pointers.push_back(nullptr);
    return pointers;
}

void CopyText(char *destination, size_t size, const char *source) {
    size_t index = 0;
    for (; index + 1 < size && source[index] != '\0'; ++index) {
        destination[index] = source[index];
    }
    destination[index] = '\0';
}

[[noreturn]] void FailChild(int reportFd, const char *what) {
    ChildFailure failure{errno, {}};
    CopyText(failure.what, sizeof failure.what, what);
    (void)!write(reportFd, &failure, sizeof failure);
    _exit(127);
}

[[noreturn]] void RunChild(const LaunchPlan &plan, int reportFd, pid_t parent) {
    setpgid(0, 0);
    // The tool must not outlive the harness thread that started it.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) {
        _exit(127);
    }
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    signal(SIGPIPE, SIG_DFL);
    const int redirections[][2] = {{plan.input, 0}, {plan.output, 1}, {plan.errors, 2}};
    for (const auto &redirection : redirections) {
        if (redirection[0] >= 0 && dup2(redirection[0], redirection[1]) < 0) {
            FailChild(reportFd, "dup2");
        }
    }
    const char *failedCall = "";
    if (EnterPrivateNamespace(plan.identity, &failedCall) != 0) {
        FailChild(reportFd, failedCall);
    }
    size_t failedStep = 0;
    if (RunMountPlan(plan.mounts, &failedStep) != 0) {
        FailChild(reportFd, plan.stepDescriptions[failedStep].c_str());
    }
    if (chdir(plan.workDirectory.c_str()) != 0) {
        FailChild(reportFd, "chdir to the working directory");
    }
    execve(plan.executable.c_str(), plan.argv.data(), plan.envp.data());
    FailChild(reportFd, plan.executable.c_str());
}

std::string FindOnPath(const std::string &program) {
    if (program.find('/') != std::string::npos) {
        return program;
    }
    const char *path = getenv("PATH");
    std::string directories = path != nullptr ? path : "/usr/bin:/bin";
    size_t begin = 0;
    while (begin <= directories.size()) {
        size_t end = directories.find(':', begin);
        end = end == std::string::npos ? directories.size() : end;
        std::string candidate = directories.substr(begin, end - begin) + "/" + program;
        if (access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
        begin = end + 1;
    }
    return {};
}

int WriteFile(const std::string &path, const std::string &text, mode_t mode) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
    if (fd < 0 || write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
        ReportSystemError(("write " + path).c_str());
        if (fd >= 0) {
            close(fd);
        }
        return -1;
    }
    return close(fd);
}

std::string ReadFile(const std::string &path) {
    std::string text;
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return text;
    }
    char buffer[4096];
    for (ssize_t count; (count = read(fd, buffer, sizeof buffer)) > 0;) {
        text.append(buffer, static_cast<size_t>(count));
    }
    close(fd);
    return text;
}

int RemoveEntry(const char *path, const struct stat *, int, FTW *) {
    return remove(path);
}

void RemoveTree(const std::string &root) {
    if (nftw(root.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS) != 0) {
        ReportSystemError(("remove " + root).c_str());
    }
}

std::vector<std::string> HostKillallPaths() {
    std::vector<std::string> paths;
    for (const char *candidate : kKillallCandidates) {
        char resolved[PATH_MAX];
        if (realpath(candidate, resolved) != nullptr &&
            std::find(paths.begin(), paths.end(), resolved) == paths.end()) {
            paths.push_back(resolved);
        }
    }
    return paths;
}

// The sanitizer runtime this process was started with, or empty: a tool of the same build needs it first in
// its preload list, before the fake driver.
std::string AddressSanitizerRuntime() {
    std::string runtime;
    dl_iterate_phdr(
        [](dl_phdr_info *info, size_t, void *found) {
            const char *name = info->dlpi_name != nullptr ? info->dlpi_name : "";
            const char *base = strrchr(name, '/') != nullptr ? strrchr(name, '/') + 1 : name;
            if (strncmp(base, "libasan.so", 10) == 0) {
                *static_cast<std::string *>(found) = name;
                return 1;
            }
            return 0;
        },
        &runtime);
    return runtime;
}

// Whether an ELF program names the library among the ones it needs (DT_NEEDED starting with prefix): a
// program built with the address sanitizer needs its runtime first in the preload list, any other must not
// get it.
bool NeedsLibrary(const std::string &program, const char *prefix) {
    const int fd = open(program.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    const auto readAt = [fd](void *into, size_t count, uint64_t offset) {
        return pread(fd, into, count, static_cast<off_t>(offset)) == static_cast<ssize_t>(count);
    };
    bool needed = false;
    Elf64_Ehdr header{};
    if (readAt(&header, sizeof header, 0) && memcmp(header.e_ident, ELFMAG, SELFMAG) == 0 &&
        header.e_ident[EI_CLASS] == ELFCLASS64 && header.e_shentsize == sizeof(Elf64_Shdr)) {
        for (uint16_t index = 0; index < header.e_shnum && !needed; ++index) {
            Elf64_Shdr dynamic{};
            Elf64_Shdr strings{};
            if (!readAt(&dynamic, sizeof dynamic, header.e_shoff + uint64_t{index} * sizeof dynamic) ||
                dynamic.sh_type != SHT_DYNAMIC ||
                !readAt(&strings, sizeof strings, header.e_shoff + uint64_t{dynamic.sh_link} * sizeof strings)) {
                continue;
            }
            for (uint64_t at = 0; at + sizeof(Elf64_Dyn) <= dynamic.sh_size && !needed; at += sizeof(Elf64_Dyn)) {
                Elf64_Dyn entry{};
                char name[64] = {};
                needed =
                    readAt(&entry, sizeof entry, dynamic.sh_offset + at) && entry.d_tag == DT_NEEDED &&
                    entry.d_un.d_val < strings.sh_size &&
                    pread(fd, name, sizeof name - 1, static_cast<off_t>(strings.sh_offset + entry.d_un.d_val)) > 0 &&
                    strncmp(name, prefix, strlen(prefix)) == 0;
            }
        }
    }
    close(fd);
    return needed;
}

// The executable, its arguments and environment: argv0 without '/' is a tool of the install, with one a path
// (relative to the working directory). Returns 0, or -1 after printing why.
// With a driver configuration the fake drivers are preloaded (native tools only).
int PrepareCommand(const ToolInstall &install, const std::string &workDirectory, const std::string &recorderDirectory,
                   const std::string &flashConfiguration, const std::string &argv0,
                   const std::vector<std::string> &arguments, LaunchPlan &plan) {
    const std::string tool = argv0.find('/') != std::string::npos ? argv0 : install.prefix + "/bin/" + argv0;
    const std::string toolOnHost = tool[0] == '/' ? tool : workDirectory + "/" + tool;
    if (access(toolOnHost.c_str(), X_OK) != 0) {
        ReportSystemError(("run " + toolOnHost).c_str());
        return -1;
    }
    if (install.runner.empty()) {
        plan.executable = tool;
        plan.argumentStorage.push_back(argv0);
    } else {
        plan.executable = FindOnPath(install.runner[0]);
        if (plan.executable.empty()) {
            ReportError("%s is not installed", install.runner[0].c_str());
            return -1;
        }
        for (const std::string &word : install.runner) {
            plan.argumentStorage.push_back(word == "{argv0}" ? argv0 : word == "{exe}" ? tool : word);
        }
    }
    plan.argumentStorage.insert(plan.argumentStorage.end(), arguments.begin(), arguments.end());
    for (char **variable = environ; *variable != nullptr; ++variable) {
        if (strncmp(*variable, "PATH=", 5) != 0 && strncmp(*variable, "LD_PRELOAD=", 11) != 0) {
            plan.environmentStorage.push_back(*variable);
        }
    }
    plan.environmentStorage.push_back("PATH=" + recorderDirectory + kSandboxPathTail);
    if (!flashConfiguration.empty() && install.runner.empty()) {
        const std::string driver = install.prefix + "/" + kFakeMtdLibrary;
        if (access(driver.c_str(), R_OK) != 0) {
            ReportSystemError(("the fake MTD driver " + driver).c_str());
            return -1;
        }
        const std::string runtime = AddressSanitizerRuntime();
        const bool sanitized = !runtime.empty() && NeedsLibrary(toolOnHost, "libasan.so");
        plan.environmentStorage.push_back("LD_PRELOAD=" + (sanitized ? runtime + " " : "") + driver);
        plan.environmentStorage.push_back("TARN_BENCH_FAKE_MTD=" + flashConfiguration);
    }
    plan.argv = PointersTo(plan.argumentStorage);
    plan.envp = PointersTo(plan.environmentStorage);
    return 0;
}

// Adds the directories (before their contents) and files below host directory root, as paths relative to it;
// the bytes they hold are added to size.
void ListTree(const std::string &root, const std::string &relative, std::vector<std::pair<std::string, bool>> &entries,
              off_t &size) {
    DIR *directory = opendir((root + relative).c_str());
    if (directory == nullptr) {
        return;
    }
    while (const dirent *entry = readdir(directory)) {
        const std::string name = relative + "/" + entry->d_name;
        struct stat status {};
        if (strcmp(entry->d_name, ".") == 0 || strcmp(entry->d_name, "..") == 0 ||
            lstat((root + name).c_str(), &status) != 0) {
            continue;
        }
        if (S_ISDIR(status.st_mode)) {
            entries.emplace_back(name, true);
            ListTree(root, name, entries, size);
        } else if (S_ISREG(status.st_mode)) {
            entries.emplace_back(name, false);
            size += (status.st_size + 4095) / 4096 * 4096;
        }
    }
    closedir(directory);
}

// The steps that put a card at /tmp/SD0: its host directory bound there, or for a full card a small file
// system holding a copy of it and a filler.
void AddCardMount(MountPlan &plan, const CardSettings &card) {
    plan.Directory(kCardMountPoint);
    if (card.full) {
        std::vector<std::pair<std::string, bool>> entries;
        off_t size = kFullCardSlack;
        ListTree(card.directory, "", entries, size);
        plan.Tmpfs(kCardMountPoint, "mode=0777,size=" + std::to_string(size));
        for (const auto &[name, isDirectory] : entries) {
            if (isDirectory) {
                plan.Directory(kCardMountPoint + name);
            } else {
                plan.CopyFile(card.directory + name, kCardMountPoint + name);
            }
        }
        plan.FillUp(std::string(kCardMountPoint) + "/.filler");
    } else {
        plan.Bind(card.directory, kCardMountPoint);
    }
    if (card.readOnly) {
        plan.ReadOnly(kCardMountPoint);
    }
}

bool SameNamespace(const std::string &a, const std::string &b) {
    struct stat first {};
    struct stat second {};
    return stat(a.c_str(), &first) == 0 && stat(b.c_str(), &second) == 0 && first.st_ino == second.st_ino &&
           first.st_dev == second.st_dev;
}

} // namespace

ToolInstall MakeToolInstall(std::string prefix, const std::string &runnerProgram) {
    ToolInstall install{std::move(prefix), {}};
    if (!runnerProgram.empty()) {
        install.runner = {runnerProgram, "-0", "{argv0}", "{exe}"};
    }
    return install;
}

std::unique_ptr<Sandbox> Sandbox::Create(SandboxSettings settings) {
    char directory[] = "/var/tmp/tarn-bench.XXXXXX";
    if (mkdtemp(directory) == nullptr) {
        ReportSystemError("create a directory under /var/tmp");
        return nullptr;
    }
    std::unique_ptr<Sandbox> sandbox(new Sandbox(std::move(settings), directory));
    if (sandbox->PrepareHostFiles() != 0) {
        return nullptr;
    }
    return sandbox;
}

Sandbox::Sandbox(SandboxSettings settings, std::string hostDirectory)
    : settings_(std::move(settings)), hostDirectory_(std::move(hostDirectory)),
      workDirectory_(hostDirectory_ + "/work") {}

Sandbox::~Sandbox() {
    Stop();
    RemoveTree(hostDirectory_);
}

int Sandbox::PrepareHostFiles() const {
    if (mkdir(workDirectory_.c_str(), 0755) != 0 || mkdir((hostDirectory_ + "/bin").c_str(), 0755) != 0) {
        ReportSystemError(("create directories in " + hostDirectory_).c_str());
        return -1;
    }
    const std::string recorder = "#!/bin/sh\n"
                                 "# The bench's killall: notes what the tool wanted stopped, stops nothing.\n"
                                 "printf '%s\\n' \"$*\" >> '" +
                                 hostDirectory_ + "/killall.log'\n";
    return WriteFile(hostDirectory_ + "/bin/killall", recorder, 0755) != 0 ||
                   WriteFile(hostDirectory_ + "/killall.log", "", 0644) != 0 || WriteFile(DlogPath(), "", 0644) != 0
               ? -1
               : 0;
}

int Sandbox::PlaceFile(const std::string &hostPath) const {
    const int source = open(hostPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (source < 0) {
        ReportSystemError(("open " + hostPath).c_str());
        return -1;
    }
    const std::string target = workDirectory_ + "/" + hostPath.substr(hostPath.rfind('/') + 1);
    const int copy = open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    int result = copy < 0 ? -1 : 0;
    char buffer[65536];
    for (ssize_t count; result == 0 && (count = read(source, buffer, sizeof buffer)) != 0;) {
        result = count < 0 || write(copy, buffer, static_cast<size_t>(count)) != count ? -1 : 0;
    }
    if (result != 0) {
        ReportSystemError(("copy " + hostPath + " to " + target).c_str());
    }
    close(source);
    if (copy >= 0) {
        close(copy);
    }
    return result;
}

std::string Sandbox::KillallLog() const {
    return ReadFile(hostDirectory_ + "/killall.log");
}

std::string Sandbox::TakeFlashJournal() const {
    const std::string path = hostDirectory_ + "/flash.journal";
    std::string journal = ReadFile(path);
    if (truncate(path.c_str(), 0) != 0 && errno != ENOENT) {
        ReportSystemError(("truncate " + path).c_str());
    }
    return journal;
}

int Sandbox::WriteDriverConfiguration() const {
    std::string text = "journal " + hostDirectory_ + "/flash.journal\n";
    for (size_t n = 0; n < settings_.flash.devices.size(); ++n) {
        const FlashDevice &device = settings_.flash.devices[n];
        text += "mtd " + std::to_string(n) + " " + std::to_string(device.blocks) +
                (device.writeProtected ? " protected" : "") + (settings_.flash.kernel ? " kernel\n" : "\n");
        for (uint32_t block : device.badBlocks) {
            text += "bad " + std::to_string(n) + " " + std::to_string(block) + "\n";
        }
    }
    for (const std::string &line : settings_.flash.faults) {
        text += line + "\n";
    }
    if (settings_.dlog.present) {
        text += "dlog " + hostDirectory_ + "/dlog.cursor\n";
        for (const std::string &line : settings_.dlog.faults) {
            text += "dlog " + line + "\n";
        }
    }
    return WriteFile(hostDirectory_ + "/fake_mtd.conf", text, 0644);
}

MountPlan Sandbox::BuildMountPlan() const {
    MountPlan plan;
    StartDevTree(plan);
    for (int n = 0; n < kSerialDeviceCount; ++n) {
        const SimPort *port = settings_.serial[n] != nullptr ? settings_.serial[n] : unconnectedLines_[n].get();
        plan.Bind(port->SlavePath(), StagedDevice("ttyS" + std::to_string(n)));
    }
    for (const ExtraDevice &device : settings_.devices) {
        plan.EmptyFile(StagedDevice(device.name));
        plan.Bind(device.hostPath, StagedDevice(device.name));
    }
    if (settings_.dlog.present) {
        plan.EmptyFile(StagedDevice("dlog"));
        plan.Bind(DlogPath(), StagedDevice("dlog"));
    }
    for (size_t n = 0; n < settings_.flash.devices.size(); ++n) {
        const std::string name = StagedDevice("mtd" + std::to_string(n));
        plan.EmptyFile(name);
        plan.Bind(settings_.flash.devices[n].imagePath, name);
    }
    const bool cardInserted = !settings_.card.directory.empty();
    if (cardInserted) {
        // A plain file, not a mount point, so that a card can be pulled by unlinking it mid-run.
        plan.EmptyFile(StagedDevice("mmcblk0"));
    }
    FinishDevTree(plan);
    plan.Bind(hostDirectory_ + "/cmdline", "/proc/cmdline");
    if (cardInserted) {
        AddCardMount(plan, settings_.card);
    }
    for (const std::string &killall : HostKillallPaths()) {
        plan.Bind(hostDirectory_ + "/bin/killall", killall);
    }
    return plan;
}

int Sandbox::Start(const std::string &argv0, const std::vector<std::string> &arguments) {
    if (running_) {
        ReportError("a tool is still running in this sandbox");
        return -1;
    }
    for (int n = 0; n < kSerialDeviceCount; ++n) {
        if (settings_.serial[n] == nullptr && unconnectedLines_[n] == nullptr &&
            (unconnectedLines_[n] = SimPort::Create()) == nullptr) {
            return -1;
        }
    }
    LaunchPlan plan;
    const bool drivers = !settings_.flash.devices.empty() || settings_.dlog.present;
    if (WriteFile(hostDirectory_ + "/cmdline", settings_.kernelCommandLine, 0644) != 0 ||
        (drivers && WriteDriverConfiguration() != 0) ||
        PrepareCommand(settings_.install, workDirectory_, hostDirectory_ + "/bin",
                       drivers ? hostDirectory_ + "/fake_mtd.conf" : "", argv0, arguments, plan) != 0) {
        return -1;
    }
    plan.workDirectory = workDirectory_;
    plan.mounts = BuildMountPlan();
    for (const MountStep &step : plan.mounts.Steps()) {
        plan.stepDescriptions.push_back(DescribeStep(step));
    }
    plan.identity = PrepareNamespaceIdentity();

    PipeEnds report;
    PipeEnds output;
    PipeEnds errors;
    if (report.Open() != 0 || (settings_.captureOutput && (output.Open() != 0 || errors.Open() != 0))) {
        ReportSystemError("pipe2");
        return -1;
    }
    FileDescriptor input(settings_.captureOutput ? open("/dev/null", O_RDONLY | O_CLOEXEC) : -1);
    plan.input = input.fd;
    plan.output = output.write;
    plan.errors = errors.write;
    {
        std::lock_guard<std::mutex> hold(outputLock_);
        stdout_.clear();
        stderr_.clear();
        output_.clear();
    }

    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid == 0) {
        RunChild(plan, report.write, parent);
    }
    if (pid < 0) {
        ReportSystemError("fork");
        return -1;
    }
    report.CloseWrite();
    output.CloseWrite();
    errors.CloseWrite();
    pid_ = pid;
    pidFd_ = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
    running_ = true;
    status_ = ToolStatus{};
    status_.started = true;
    if (settings_.captureOutput) {
        outputReader_ = std::thread([this, out = output.TakeRead(), err = errors.TakeRead()] { ReadOutput(out, err); });
    }
    if (pidFd_ < 0) {
        ReportSystemError("pidfd_open");
        kill(-pid_, SIGKILL);
        Reap();
        status_.started = false;
        return -1;
    }

    ChildFailure failure{};
    if (read(report.read, &failure, sizeof failure) > 0) {
        Wait(kKilledToolGrace);
        status_.started = false;
        ReportError("cannot start %s in the sandbox: %s: %s", argv0.c_str(), failure.what, strerror(failure.error));
        return -1;
    }
    return 0;
}

void Sandbox::ReadOutput(int stdoutFd, int stderrFd) {
    pollfd streams[2] = {{stdoutFd, POLLIN, 0}, {stderrFd, POLLIN, 0}};
    char buffer[4096];
    while (streams[0].fd >= 0 || streams[1].fd >= 0) {
        if (poll(streams, 2, -1) < 0 && errno != EINTR) {
            break;
        }
        for (int index = 0; index < 2; ++index) {
            if (streams[index].fd < 0 || streams[index].revents == 0) {
                continue;
            }
            const ssize_t count = read(streams[index].fd, buffer, sizeof buffer);
            if (count <= 0) {
                close(streams[index].fd);
                streams[index].fd = -1; // poll ignores negative descriptors
                continue;
            }
            std::lock_guard<std::mutex> hold(outputLock_);
            (index == 0 ? stdout_ : stderr_).append(buffer, static_cast<size_t>(count));
            output_.append(buffer, static_cast<size_t>(count));
        }
    }
}

bool Sandbox::Wait(std::chrono::milliseconds timeout) {
    if (!running_) {
        return true;
    }
    pollfd exited{pidFd_, POLLIN, 0};
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        // Rounded up: a wait never ends before its time.
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        const int ready = poll(&exited, 1, static_cast<int>(std::max<int64_t>(0, left.count())));
        if (ready > 0) {
            break;
        }
        if (ready == 0 || errno != EINTR) {
            return false;
        }
    }
    Reap();
    return true;
}

void Sandbox::Reap() {
    // The tool is a zombie now, so its process group id cannot have been reused: clear what it left behind,
    // which also lets the output pipes reach their end.
    kill(-pid_, SIGKILL);
    int status = 0;
    while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    status_.exited = WIFEXITED(status);
    status_.code = WIFEXITED(status) ? WEXITSTATUS(status) : 0;
    status_.signalNumber = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    if (pidFd_ >= 0) {
        close(pidFd_);
        pidFd_ = -1;
    }
    if (outputReader_.joinable()) {
        outputReader_.join();
    }
    running_ = false;
}

void Sandbox::Stop(std::chrono::milliseconds grace) {
    if (!running_) {
        return;
    }
    kill(pid_, SIGTERM);
    if (!Wait(grace)) {
        kill(-pid_, SIGKILL);
        Wait(kKilledToolGrace);
    }
}

int Sandbox::Run(const std::string &argv0, const std::vector<std::string> &arguments, std::chrono::milliseconds limit) {
    if (Start(argv0, arguments) != 0) {
        return -1;
    }
    if (!Wait(limit)) {
        Stop();
        status_.timedOut = true;
    }
    return 0;
}

int Sandbox::Signal(int signalNumber) const {
    return running_ ? kill(pid_, signalNumber) : -1;
}

std::string Sandbox::Stdout() const {
    std::lock_guard<std::mutex> hold(outputLock_);
    return stdout_;
}

std::string Sandbox::Stderr() const {
    std::lock_guard<std::mutex> hold(outputLock_);
    return stderr_;
}

std::string Sandbox::Output() const {
    std::lock_guard<std::mutex> hold(outputLock_);
    return output_;
}

int Sandbox::RemoveCard() {
    MountPlan plan;
    plan.Unmount(kCardMountPoint);
    plan.RemoveFile(kCardNode);
    return ChangeInside(plan);
}

int Sandbox::InsertCardNode() {
    MountPlan plan;
    plan.EmptyFile(kCardNode);
    return ChangeInside(plan);
}

int Sandbox::MountCard(const CardSettings &card) {
    MountPlan plan;
    AddCardMount(plan, card);
    return ChangeInside(plan);
}

int Sandbox::InsertCard(const CardSettings &card) {
    MountPlan plan;
    plan.EmptyFile(kCardNode);
    AddCardMount(plan, card);
    return ChangeInside(plan);
}

int Sandbox::ChangeInside(const MountPlan &plan) {
    if (!running_) {
        ReportError("no tool runs in this sandbox to change its card");
        return -1;
    }
    const std::string namespaces = "/proc/" + std::to_string(pid_) + "/ns/";
    FileDescriptor mountNamespace(open((namespaces + "mnt").c_str(), O_RDONLY | O_CLOEXEC));
    FileDescriptor userNamespace(SameNamespace(namespaces + "user", "/proc/self/ns/user")
                                     ? -1
                                     : open((namespaces + "user").c_str(), O_RDONLY | O_CLOEXEC));
    if (mountNamespace.fd < 0) {
        ReportSystemError(("open " + namespaces + "mnt").c_str());
        return -1;
    }
    std::vector<std::string> descriptions;
    for (const MountStep &step : plan.Steps()) {
        descriptions.push_back(DescribeStep(step));
    }
    PipeEnds report;
    if (report.Open() != 0) {
        ReportSystemError("pipe2");
        return -1;
    }
    // Joining another user namespace needs a single-threaded process: a child of this one.
    const pid_t child = fork();
    if (child == 0) {
        if (JoinNamespaceOf(mountNamespace.fd, userNamespace.fd) != 0) {
            FailChild(report.write, "join the tool's namespace");
        }
        size_t failedStep = 0;
        if (RunMountPlan(plan, &failedStep) != 0) {
            FailChild(report.write, descriptions[failedStep].c_str());
        }
        _exit(0);
    }
    if (child < 0) {
        ReportSystemError("fork");
        return -1;
    }
    report.CloseWrite();
    ChildFailure failure{};
    const bool failed = read(report.read, &failure, sizeof failure) > 0;
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (failed || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        ReportError("card change in the sandbox: %s: %s", failed ? failure.what : "the helper died",
                    strerror(failure.error));
        return -1;
    }
    return 0;
}

std::string Sandbox::PathInside(const std::string &path) const {
    return running_ ? "/proc/" + std::to_string(pid_) + "/root" + path : std::string();
}

} // namespace tarn::bench
