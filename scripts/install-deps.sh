#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when they are missing.
# As root it installs them; as another user it names what is missing and stops.
set -euo pipefail

# mtd-utils, u-boot-tools and libubootenv-tool are only used by the tests, to check the flash tools and the
# bench's fake MTD driver against independent implementations.
packages=(cmake make g++ libgtest-dev libgmock-dev libbenchmark-dev mtd-utils u-boot-tools libubootenv-tool "$@")
missing=()
for package in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
    echo "missing packages: ${missing[*]} (install them as root: apt-get install ${missing[*]})" >&2
    exit 1
fi
echo "installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}"
