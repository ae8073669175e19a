#!/usr/bin/env bash
# Boots the Debian kernel (scripts/vm/kernel.sh) under qemu-system-x86_64 (TCG: no KVM needed), runs one
# command as root in a small initramfs and passes back its output and exit status.
#
#   scripts/vm/run.sh [OPTION]... -- COMMAND [ARGUMENT]...
#     --copy PATH        put the file or directory at the same path in the guest; every ELF file's shared
#                        libraries and loader come along
#     --env NAME=VALUE   environment of the command
#     --serial N=SOCKET  the guest's ttySN (N 0..3, the kernel's 8250 driver) is a qemu chardev connected to
#                        the host unix socket SOCKET (which must listen already)
#     --wire A=B         the guest's ttySA and ttySB are wired to each other (a null-modem cable)
#     --timeout SECONDS  overall limit, boot included (default 120)
#     --memory MB        guest memory (default 768)
#
# The guest loads the MTD layer and the NAND driver stack (nandsim is left for the command to load with its
# own table, from /lib/modules/nandsim.ko). The command's output comes out on this script's standard output;
# its exit status is this script's. A guest that never reports a status (hung, crashed, timed out) ends the
# run with status 125 and the message "vm: the guest never reported", followed by the guest kernel's log.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)

copies=()
environment=()
serials=()
wires=()
timeout=120
memory=768
while [ $# -gt 0 ]; do
    case "$1" in
        --copy) copies+=("$2"); shift 2 ;;
        --env) environment+=("$2"); shift 2 ;;
        --serial) serials+=("$2"); shift 2 ;;
        --wire) wires+=("$2"); shift 2 ;;
        --timeout) timeout=$2; shift 2 ;;
        --memory) memory=$2; shift 2 ;;
        --) shift; break ;;
        *) echo "run.sh: unknown option $1 (see the head of $0)" >&2; exit 2 ;;
    esac
done
if [ $# -eq 0 ]; then
    echo "run.sh: no command (run.sh [OPTION]... -- COMMAND [ARGUMENT]...)" >&2
    exit 2
fi
for program in qemu-system-x86_64 busybox; do
    command -v "${program}" >/dev/null || { echo "run.sh: ${program} not found" >&2; exit 2; }
done
busybox=$(command -v busybox)
if ldd "${busybox}" >/dev/null 2>&1; then
    echo "run.sh: ${busybox} is linked dynamically; the guest needs busybox-static" >&2
    exit 2
fi

kernel=$("${here}/kernel.sh")
modules=$(ls -d "${kernel}"/lib/modules/*)
work=$(mktemp -d "${TMPDIR:-/tmp}/tarn-vm.XXXXXX")
[ -n "${TARN_VM_KEEP:-}" ] || trap 'rm -rf "${work}"' EXIT
root=${work}/root
mkdir -p "${root}"/{dev,proc,sys,tmp,var/tmp,etc}
# The host's top-level links (/lib -> usr/lib on a merged /usr), so that copied links and loaders resolve.
for directory in bin sbin lib lib64; do
    if [ -L "/${directory}" ]; then
        target=$(readlink "/${directory}")
        mkdir -p "${root}/$(dirname "/${directory}")/${target}"
        ln -s "${target}" "${root}/${directory}"
    else
        mkdir -p "${root}/${directory}"
    fi
done
mkdir -p "${root}/lib/modules"

# add PATH: copies a file with its parent directories, and the shared libraries of an ELF file.
add() {
    local path=$1
    [ -e "${root}${path}" ] && return 0
    mkdir -p "${root}$(dirname "${path}")"
    cp -a "${path}" "${root}${path}"
    if [ -L "${path}" ]; then
        add "$(readlink -f "${path}")"
        return 0
    fi
    if [ -f "${path}" ] && [ "$(head -c 4 "${path}" | od -An -tx1 | tr -d ' ')" = 7f454c46 ]; then
        local library
        for library in $(ldd "${path}" 2>/dev/null | grep -o '/[^ ]*'); do
            add "${library}"
        done
    fi
}
for copy in "${copies[@]}"; do
    copy=$(realpath -s "${copy}")
    if [ -d "${copy}" ]; then
        while IFS= read -r -d '' file; do
            add "${file}"
        done < <(find "${copy}" \( -type f -o -type l \) -print0)
    else
        add "${copy}"
    fi
done

cp "${busybox}" "${root}/bin/busybox"
# busybox's shell runs its own applets before looking at PATH: programs that start commands through
# /bin/sh get the host's dash instead, so that a command found in PATH (or bound over it) is the one run.
if [ -x /bin/dash ]; then
    add /bin/dash
fi
# Modules in the order their dependencies need them.
module_order=(virtio_ring virtio_pci_modern_dev virtio_pci_legacy_dev virtio virtio_pci virtio_console
              mtd bch nandcore nand)
names=()
for module in "${module_order[@]}" nandsim; do
    names+=(${names[0]+-o} -name "${module}.ko")
done
find "${modules}/kernel" \( "${names[@]}" \) -exec cp {} "${root}/lib/modules/" \;
for module in "${module_order[@]}" nandsim; do
    [ -f "${root}/lib/modules/${module}.ko" ] || { echo "run.sh: module ${module} not in ${modules}" >&2; exit 2; }
done

# quote WORD: the word in single quotes, for the guest's shell.
quote() {
    local word=${1//\'/\'\\\'\'}
    printf "'%s'" "${word}"
}
{
    for variable in "${environment[@]}"; do
        printf 'export %s\n' "$(quote "${variable}")"
    done
    printf 'exec'
    for argument in "$@"; do
        printf ' %s' "$(quote "${argument}")"
    done
    printf '\n'
} >"${root}/etc/command"

cat >"${root}/init" <<'INIT'
#!/bin/busybox sh
/bin/busybox --install -s /bin
[ -x /bin/dash ] && ln -sf dash /bin/sh
# A file, not a link to busybox, so that binding another program over it replaces only killall.
rm -f /bin/killall && printf '#!/bin/sh\nexec /bin/busybox killall "$@"\n' >/bin/killall && chmod +x /bin/killall
export PATH=/bin:/usr/bin:/sbin:/usr/sbin
mount -t devtmpfs dev /dev
mount -t proc proc /proc
mount -t sysfs sys /sys
mount -t tmpfs tmp /tmp
mkdir -p /dev/pts && mount -t devpts -o ptmxmode=0666 devpts /dev/pts
for module in MODULES; do
    insmod /lib/modules/${module}.ko || echo "vm: insmod ${module} failed" >/dev/hvc0
done
while [ ! -e /dev/vport0p2 ]; do sleep 0.01; done
cd /tmp
status=0
sh /etc/command </dev/null >/dev/vport0p1 2>&1 || status=$?
# Ports (unlike the console) hand a write over before it returns: nothing is lost at power-off.
echo "vm-exit-status ${status}" >/dev/vport0p2
sync
poweroff -f
INIT
sed -i "s/MODULES/${module_order[*]}/" "${root}/init"
chmod +x "${root}/init"

(cd "${root}" && find . | busybox cpio -o -H newc 2>/dev/null) >"${work}/initramfs.cpio"

serial_options=()
for serial in "${serials[@]}"; do
    index=${serial%%=*}
    socket=${serial#*=}
    serial_options+=(-chardev "socket,id=serial${index},path=${socket}")
    serial_options+=(-device "isa-serial,chardev=serial${index},index=${index}")
done
# A wire is a socket qemu listens on for one end and connects the other end to.
for wire in "${wires[@]}"; do
    socket=${work}/wire${wire%%=*}.sock
    serial_options+=(-chardev "socket,id=serial${wire%%=*},path=${socket},server=on,wait=off")
    serial_options+=(-device "isa-serial,chardev=serial${wire%%=*},index=${wire%%=*}")
    serial_options+=(-chardev "socket,id=serial${wire#*=},path=${socket}")
    serial_options+=(-device "isa-serial,chardev=serial${wire#*=},index=${wire#*=}")
done

: >"${work}/output"
: >"${work}/status"
: >"${work}/kernel.log"
started=$(date +%s%N)
set +e
timeout --kill-after=5 "${timeout}" qemu-system-x86_64 \
    -machine pc,accel=tcg -m "${memory}" -smp 1 \
    -nodefaults -no-user-config -display none -no-reboot \
    -kernel "${kernel}/vmlinux" -initrd "${work}/initramfs.cpio" \
    -append "console=hvc0 loglevel=4 panic=-1 rdinit=/init" \
    -device virtio-serial-pci \
    -chardev "file,id=console,path=${work}/kernel.log" -device virtconsole,chardev=console \
    -chardev "file,id=output,path=${work}/output" -device virtserialport,chardev=output,nr=1 \
    -chardev "file,id=status,path=${work}/status" -device virtserialport,chardev=status,nr=2 \
    "${serial_options[@]}" </dev/null >"${work}/qemu.log" 2>&1
qemu_status=$?
set -e
elapsed=$((($(date +%s%N) - started) / 1000000))

cat "${work}/output"
status=$(sed -n 's/^vm-exit-status \([0-9]*\).*/\1/p' "${work}/status" | tail -1)
if [ -z "${status}" ]; then
    {
        echo "vm: the guest never reported (qemu status ${qemu_status}$([ "${qemu_status}" -eq 124 ] &&
            echo ", stopped after ${timeout} s"))"
        cat "${work}/qemu.log"
        echo "--- guest kernel log"
        cat "${work}/kernel.log"
    } >&2
    exit 125
fi
[ -z "${TARN_VM_TIMING:-}" ] || echo "vm: ${elapsed} ms from start to power-off" >&2
exit "${status}"
