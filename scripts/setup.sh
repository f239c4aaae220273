#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, and any named as
# arguments, when run as root and only those that are missing. Without root it
# only reports what is absent.
set -euo pipefail

packages=(cmake g++ make pkg-config googletest libgtest-dev libgmock-dev
  clang libclang-rt-14-dev valgrind libbenchmark-dev
  nlohmann-json3-dev libcli11-dev binutils "$@")

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
if [ "$(id -u)" -ne 0 ]; then
  echo "setup: missing packages (run as root to install): ${missing[*]}" >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}"
