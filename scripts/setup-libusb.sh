#!/usr/bin/env bash
# Installs the Debian packages that the Linux library and its tests need, when
# run as root and only those that are missing. Without root it only reports
# what is absent.
set -euo pipefail

packages=(cmake g++ gcc make pkg-config binutils googletest libgtest-dev libusb-1.0-0-dev umockdev libumockdev-dev libcli11-dev)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
if [ "$(id -u)" -ne 0 ]; then
  echo "setup-libusb: missing packages (run as root to install): ${missing[*]}" >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}"
