#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when they are missing.
#   scripts/install-deps.sh [PACKAGE...] [--optional PACKAGE...]
# As root it installs every missing one. As another user it names what is missing and, when a required package
# is among them, stops (status 1); missing optional packages are only named: the stages that need them check
# for their programs and skip themselves.
set -euo pipefail

# mtd-utils, u-boot-tools and libubootenv-tool are only used by the tests, to check the flash tools and the
# bench's fake MTD driver against independent implementations.
required=(cmake make g++ libgtest-dev libgmock-dev libbenchmark-dev mtd-utils u-boot-tools libubootenv-tool)
optional=()
list=required
for argument in "$@"; do
    if [ "${argument}" = --optional ]; then
        list=optional
    elif [ "${list}" = required ]; then
        required+=("${argument}")
    else
        optional+=("${argument}")
    fi
done

installed() {
    dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"
}
missing_required=()
for package in "${required[@]}"; do
    installed "${package}" || missing_required+=("${package}")
done
missing_optional=()
for package in "${optional[@]}"; do
    installed "${package}" || missing_optional+=("${package}")
done
missing=("${missing_required[@]}" "${missing_optional[@]}")
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
    if [ ${#missing_optional[@]} -gt 0 ]; then
        echo "optional packages missing: ${missing_optional[*]} (the stages that need them will be skipped;" \
            "install them as root: apt-get install ${missing_optional[*]})" >&2
    fi
    if [ ${#missing_required[@]} -gt 0 ]; then
        echo "missing packages: ${missing_required[*]} (install them as root: apt-get install" \
            "${missing_required[*]})" >&2
        exit 1
    fi
    exit 0
fi
echo "installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}"
