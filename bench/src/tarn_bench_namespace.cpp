#include "tarn_bench_namespace.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tarn_bench_report.h"
#include "tarn_bench_sim_port.h"

namespace tarn::bench {

namespace {

constexpr const char *kHostDevices[] = {"null", "zero", "urandom", "random", "full", "tty"};

int WriteWhole(const char *path, const char *text) {
    const int fd = open(path, O_WRONLY | O_CLOEXEC);
    if (fd < 0) {
        return -1;
    }
    const size_t length = strlen(text);
    const ssize_t written = write(fd, text, length);
    const int savedErrno = errno;
    close(fd);
    errno = savedErrno;
    return written == static_cast<ssize_t>(length) ? 0 : -1;
}

// Copies a file with a buffer on the stack: this runs in forked children.
int CopyWhole(const char *source, const char *target) {
    const int from = open(source, O_RDONLY | O_CLOEXEC);
    const int to = from < 0 ? -1 : open(target, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    int result = to < 0 ? -1 : 0;
    char buffer[4096];
    for (ssize_t count; result == 0 && (count = read(from, buffer, sizeof buffer)) != 0;) {
        result = count < 0 || write(to, buffer, static_cast<size_t>(count)) != count ? -1 : 0;
    }
    const int savedErrno = errno;
    if (from >= 0) {
        close(from);
    }
    if (to >= 0) {
        close(to);
    }
    errno = savedErrno;
    return result;
}

int FillFileSystem(const char *target) {
    const int fd = open(target, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
        return -1;
    }
    static const char zeros[4096] = {};
    while (write(fd, zeros, sizeof zeros) > 0) {
    }
    const int savedErrno = errno;
    close(fd);
    errno = savedErrno;
    return savedErrno == ENOSPC ? 0 : -1;
}

int RunStep(const MountStep &step) {
    const char *source = step.source.c_str();
    const char *target = step.target.c_str();
    switch (step.op) {
        case MountOp::Tmpfs:
            return mount("tarn-bench", target, "tmpfs", MS_NOSUID, source);
        case MountOp::Directory:
            return mkdir(target, 0755) == 0 || errno == EEXIST ? 0 : -1;
        case MountOp::EmptyFile: {
            const int fd = open(target, O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
            return fd < 0 ? -1 : close(fd);
        }
        case MountOp::Devpts:
            return mount("devpts", target, "devpts", MS_NOSUID | MS_NOEXEC, source);
        case MountOp::Bind:
            return mount(source, target, nullptr, MS_BIND | MS_REC, nullptr);
        case MountOp::Symlink:
            return symlink(source, target);
        case MountOp::Move:
            return mount(source, target, nullptr, MS_MOVE, nullptr);
        case MountOp::RemoveDirectory:
            return rmdir(target);
        case MountOp::Unmount:
            return umount2(target, MNT_DETACH);
        case MountOp::RemoveFile:
            return unlink(target);
        case MountOp::ReadOnly:
            return mount(nullptr, target, nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr);
        case MountOp::CopyFile:
            return CopyWhole(source, target);
        case MountOp::FillUp:
            return FillFileSystem(target);
    }
    errno = EINVAL;
    return -1;
}

} // namespace

std::string StagedDevice(const std::string &name) {
    return std::string(kDevStaging) + "/" + name;
}

void StartDevTree(MountPlan &plan) {
    plan.Tmpfs("/tmp", "mode=1777");
    plan.Directory(kDevStaging);
    plan.Tmpfs(kDevStaging, "mode=755");
    for (const char *name : kHostDevices) {
        plan.EmptyFile(StagedDevice(name));
        plan.Bind(std::string("/dev/") + name, StagedDevice(name));
    }
    plan.Directory(StagedDevice("pts"));
    // Not the host's instance: its ptmx may be closed to all but root (ptmxmode=000), which a user namespace
    // cannot pass, and a bound host ptmx node would not find its devpts.
    plan.Devpts(StagedDevice("pts"), "newinstance,ptmxmode=0666,mode=0620");
    plan.Symlink("pts/ptmx", StagedDevice("ptmx"));
    for (int n = 0; n < kSerialDeviceCount; ++n) {
        plan.EmptyFile(StagedDevice("ttyS" + std::to_string(n)));
    }
}

void FinishDevTree(MountPlan &plan) {
    plan.Move(kDevStaging, "/dev");
    plan.RemoveDirectory(kDevStaging);
}

NamespaceIdentity PrepareNamespaceIdentity() {
    NamespaceIdentity identity{};
    snprintf(identity.uidMap, sizeof identity.uidMap, "%u %u 1\n", getuid(), getuid());
    snprintf(identity.gidMap, sizeof identity.gidMap, "%u %u 1\n", getgid(), getgid());
    return identity;
}

int EnterPrivateNamespace(const NamespaceIdentity &identity, const char **failedCall) {
    if (unshare(CLONE_NEWNS) != 0) {
        if (errno != EPERM) {
            *failedCall = "unshare(CLONE_NEWNS)";
            return -1;
        }
        // Not allowed a mount namespace of our own: a user namespace grants it, with the same ids inside.
        if (unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0) {
            *failedCall = "unshare(CLONE_NEWUSER | CLONE_NEWNS)";
            return -1;
        }
        if (WriteWhole("/proc/self/setgroups", "deny") != 0 || WriteWhole("/proc/self/uid_map", identity.uidMap) != 0 ||
            WriteWhole("/proc/self/gid_map", identity.gidMap) != 0) {
            *failedCall = "write the user namespace's id maps";
            return -1;
        }
    }
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
        *failedCall = "make / private";
        return -1;
    }
    return 0;
}

int JoinNamespaceOf(int mountNamespaceFd, int userNamespaceFd) {
    if (userNamespaceFd >= 0 && setns(userNamespaceFd, CLONE_NEWUSER) != 0) {
        return -1;
    }
    return setns(mountNamespaceFd, CLONE_NEWNS);
}

int RunMountPlan(const MountPlan &plan, size_t *failedStep) {
    const std::vector<MountStep> &steps = plan.Steps();
    for (size_t index = 0; index < steps.size(); ++index) {
        if (RunStep(steps[index]) != 0) {
            *failedStep = index;
            return -1;
        }
    }
    return 0;
}

std::string DescribeStep(const MountStep &step) {
    switch (step.op) {
        case MountOp::Tmpfs:
            return "mount a tmpfs on " + step.target;
        case MountOp::Directory:
            return "create the directory " + step.target;
        case MountOp::EmptyFile:
            return "create the file " + step.target;
        case MountOp::Devpts:
            return "mount a devpts on " + step.target;
        case MountOp::Bind:
            return "bind " + step.source + " on " + step.target;
        case MountOp::Symlink:
            return "link " + step.target + " to " + step.source;
        case MountOp::Move:
            return "move the mount " + step.source + " to " + step.target;
        case MountOp::RemoveDirectory:
            return "remove the directory " + step.target;
        case MountOp::Unmount:
            return "unmount " + step.target;
        case MountOp::RemoveFile:
            return "remove " + step.target;
        case MountOp::ReadOnly:
            return "make " + step.target + " read-only";
        case MountOp::CopyFile:
            return "copy " + step.source + " to " + step.target;
        case MountOp::FillUp:
            return "fill the file system of " + step.target;
    }
    return "unknown step";
}

void EnterUnitTestSandbox() {
    MountPlan plan;
    StartDevTree(plan);
    FinishDevTree(plan);
    const char *failedCall = "";
    if (EnterPrivateNamespace(PrepareNamespaceIdentity(), &failedCall) != 0) {
        ReportError("the tests need a private mount namespace (run as root, or allow user namespaces): %s: %s",
                    failedCall, strerror(errno));
        exit(1);
    }
    size_t failedStep = 0;
    if (RunMountPlan(plan, &failedStep) != 0) {
        ReportError("cannot build the test sandbox: %s: %s", DescribeStep(plan.Steps()[failedStep]).c_str(),
                    strerror(errno));
        exit(1);
    }
}

int AttachSerialDevice(int n, const SimPort &port) {
    if (n < 0 || n >= kSerialDeviceCount) {
        ReportError("no serial device /dev/ttyS%d on the bench", n);
        return -1;
    }
    const std::string device = "/dev/ttyS" + std::to_string(n);
    // A line attached before is replaced: its slave may be gone, and nothing mounts on top of a deleted file.
    while (umount2(device.c_str(), MNT_DETACH) == 0) {
    }
    if (mount(port.SlavePath().c_str(), device.c_str(), nullptr, MS_BIND, nullptr) != 0) {
        ReportSystemError(("bind " + port.SlavePath() + " on " + device).c_str());
        return -1;
    }
    return 0;
}

} // namespace tarn::bench
