#!/usr/bin/env bash
# Prints the directory that holds the guest kernel: vmlinux (decompressed: qemu starts it at its PVH entry,
# which saves the seconds a compressed image spends unpacking itself under TCG) and lib/modules/<version>.
# The Debian kernel package that linux-image-amd64 depends on is fetched and unpacked once, into
# the cache below (TARN_VM_CACHE, else /var/cache/tarn-vm as root, else $XDG_CACHE_HOME/tarn-vm); the
# host's own /boot is never touched.
set -euo pipefail

cache=${TARN_VM_CACHE:-}
if [ -z "${cache}" ]; then
    if [ "$(id -u)" -eq 0 ]; then
        cache=/var/cache/tarn-vm
    else
        cache=${XDG_CACHE_HOME:-${HOME}/.cache}/tarn-vm
    fi
fi

# A kernel already unpacked serves (asking apt takes seconds); TARN_VM_REFRESH=1 fetches the current one.
newest=$(ls -d "${cache}"/linux-image-*/vmlinux 2>/dev/null | sort -V | tail -1 || true)
if [ -n "${newest}" ] && [ -z "${TARN_VM_REFRESH:-}" ]; then
    dirname "${newest}"
    exit 0
fi
package=$(apt-cache depends linux-image-amd64 2>/dev/null | sed -n 's/^ *Depends: \(linux-image-[^ ]*\)$/\1/p' | head -1)
if [ -z "${package}" ]; then
    echo "kernel.sh: no kernel package known (apt-cache depends linux-image-amd64) and none cached in ${cache}" >&2
    exit 1
fi
kernel=${cache}/${package}
if [ ! -f "${kernel}/vmlinux" ]; then
    mkdir -p "${cache}"
    work=$(mktemp -d "${cache}/fetch.XXXXXX")
    trap 'rm -rf "${work}"' EXIT
    (cd "${work}" && apt-get download -q "${package}" >/dev/null 2>&1) || {
        echo "kernel.sh: apt-get download ${package} failed" >&2
        exit 1
    }
    dpkg-deb -x "${work}"/*.deb "${work}/root"
    compressed=$(ls "${work}"/root/boot/vmlinuz-*)
    # The image is a boot stub followed by the xz stream of the kernel's ELF file.
    offset=$(LC_ALL=C grep -obUa "$(printf '\3757zXZ')" "${compressed}" | head -1 | cut -d: -f1)
    if [ -z "${offset}" ]; then
        echo "kernel.sh: no xz stream in ${compressed}" >&2
        exit 1
    fi
    tail -c +$((offset + 1)) "${compressed}" | xz -dc >"${work}/vmlinux" 2>/dev/null || true
    if [ "$(head -c 4 "${work}/vmlinux" | od -An -tx1 | tr -d ' ')" != 7f454c46 ]; then
        echo "kernel.sh: ${compressed} did not unpack to an ELF file" >&2
        exit 1
    fi
    mkdir -p "${work}/kernel"
    mv "${work}/vmlinux" "${work}/kernel/"
    mv "${work}/root/lib" "${work}/kernel/lib"
    rm -rf "${kernel}"
    mv "${work}/kernel" "${kernel}"
fi
echo "${kernel}"
