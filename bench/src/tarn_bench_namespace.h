// The bench's private view of the machine: a mount namespace with a fresh /dev and /tmp, built from a plan.
//
// A plan is made of plain steps prepared in advance (every string built before any fork), so that a freshly
// forked child of a multi-threaded harness can carry it out with system calls alone.
#pragma once

#include <cstddef>
#include <string>
#include <sys/types.h>
#include <vector>

namespace tarn::bench {

class SimPort;

inline constexpr int kSerialDeviceCount = 5; // /dev/ttyS0 .. /dev/ttyS4

enum class MountOp {
    Tmpfs,           // target: mount point; source: mount options
    Devpts,          // target: mount point; source: mount options
    Directory,       // target: directory to create (an existing one is fine)
    EmptyFile,       // target: regular file to create, a mount point or a plain device stand-in
    Bind,            // source onto target, recursively
    Symlink,         // target: link path; source: link text
    Move,            // source mount onto target
    RemoveDirectory, // target
    Unmount,         // target: detached, so files the tool holds open there stay usable (as on a pulled card)
    RemoveFile,      // target
    ReadOnly,        // target: a mount point made read-only
    CopyFile,        // source: a file copied to target, a new file
    FillUp,          // target: a new file that takes the last free byte of its file system
};

struct MountStep {
    MountOp op;
    std::string source;
    std::string target;
};

class MountPlan {
public:
    void Tmpfs(std::string target, std::string options) { Add(MountOp::Tmpfs, std::move(options), std::move(target)); }
    void Devpts(std::string target, std::string options) {
        Add(MountOp::Devpts, std::move(options), std::move(target));
    }
    void Directory(std::string target) { Add(MountOp::Directory, {}, std::move(target)); }
    void EmptyFile(std::string target) { Add(MountOp::EmptyFile, {}, std::move(target)); }
    void Bind(std::string source, std::string target) { Add(MountOp::Bind, std::move(source), std::move(target)); }
    void Symlink(std::string text, std::string target) { Add(MountOp::Symlink, std::move(text), std::move(target)); }
    void Move(std::string source, std::string target) { Add(MountOp::Move, std::move(source), std::move(target)); }
    void RemoveDirectory(std::string target) { Add(MountOp::RemoveDirectory, {}, std::move(target)); }
    void Unmount(std::string target) { Add(MountOp::Unmount, {}, std::move(target)); }
    void RemoveFile(std::string target) { Add(MountOp::RemoveFile, {}, std::move(target)); }
    void ReadOnly(std::string target) { Add(MountOp::ReadOnly, {}, std::move(target)); }
    void CopyFile(std::string source, std::string target) {
        Add(MountOp::CopyFile, std::move(source), std::move(target));
    }
    void FillUp(std::string target) { Add(MountOp::FillUp, {}, std::move(target)); }

    const std::vector<MountStep> &Steps() const { return steps_; }

private:
    void Add(MountOp op, std::string source, std::string target) {
        steps_.push_back({op, std::move(source), std::move(target)});
    }
    std::vector<MountStep> steps_;
};

// Where the new /dev is assembled before it is moved over the host's: inside the fresh /tmp.
inline constexpr const char kDevStaging[] = "/tmp/.bench-dev";

// kDevStaging/<name>: where a device file goes to appear as /dev/<name>.
std::string StagedDevice(const std::string &name);

// Starts the standard tree: a fresh /tmp, and in kDevStaging null, zero, urandom, random, full and tty bound
// from the host, pts/ a devpts instance of the namespace's own with ptmx as a link to pts/ptmx (so that
// anyone inside may make pseudo-terminals; lines made outside are bound in by their host path before the tree
// is moved over /dev), and empty mount points ttyS0..ttyS4. The caller may add more below kDevStaging, then
// calls FinishDevTree.
void StartDevTree(MountPlan &plan);
// Moves the staged tree over /dev.
void FinishDevTree(MountPlan &plan);

// The identity maps a non-root caller needs for a user namespace, formatted before any fork.
struct NamespaceIdentity {
    char uidMap[48];
    char gidMap[48];
};
NamespaceIdentity PrepareNamespaceIdentity();

// Leaves the host's mount namespace: unshare(CLONE_NEWNS) where allowed (root), otherwise a user namespace
// that maps the caller's ids to themselves; then makes every mount private so nothing reaches the host.
// System calls only. Returns 0, or -1 with errno set and *failedCall naming the call.
int EnterPrivateNamespace(const NamespaceIdentity &identity, const char **failedCall);

// Leaves for the mount namespace (and the user namespace, when it is another) of a running process, given by
// descriptors of its /proc/<pid>/ns/mnt and ns/user (-1: the same user namespace). A single-threaded process
// only: a child forked for the purpose. System calls only. Returns 0, or -1 with errno set.
int JoinNamespaceOf(int mountNamespaceFd, int userNamespaceFd);

// Carries out the steps in order. System calls only. Returns 0, or -1 with errno set and *failedStep the
// index of the step that failed.
int RunMountPlan(const MountPlan &plan, size_t *failedStep);

// "bind /dev/pts/3 on /tmp/.bench-dev/ttyS0", for error lines.
std::string DescribeStep(const MountStep &step);

// For a test binary's main, before any thread exists: the calling process moves into its own namespace
// with the standard /dev (ttyS0..ttyS4 unconnected, pseudo-terminals of its own) and a fresh /tmp. Prints why and exits
// when the machine allows neither a mount namespace nor a user namespace.
void EnterUnitTestSandbox();

// Binds the port's slave onto /dev/ttySn of the current namespace, so a module that opens /dev/ttySn talks to
// the port's master, in place of any line attached there before. Returns 0, or -1 after printing why.
int AttachSerialDevice(int n, const SimPort &port);

} // namespace tarn::bench
