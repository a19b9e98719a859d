#!/usr/bin/env bash
# Installs the Debian 12 packages the build, the demo and the tests need,
# when they are missing. Usage: scripts/ensure-packages.sh [extra packages...]
set -euo pipefail

packages=(cmake ninja-build g++ qt6-base-dev libgl-dev python3-pyftpdlib curl lftp exfatprogs exfat-fuse "$@")
missing=()
for package in "${packages[@]}"; do
    dpkg -s "$package" >/dev/null 2>&1 || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo_cmd=()
[ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
# Another apt run on the same machine holds its locks for a while: wait for
# it rather than fail.
lock=(-o DPkg::Lock::Timeout=600)
"${sudo_cmd[@]}" apt-get "${lock[@]}" update -qq
DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get "${lock[@]}" install -y -qq --no-install-recommends "${missing[@]}"
