#!/usr/bin/env bash
# Every test: sets up a fresh Debian machine (as root), builds and runs the suites.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh

cmake --preset native
cmake --build --preset native
bash scripts/test-tools.sh
ctest --preset native

bash scripts/test-reliability.sh
bash scripts/test-bench.sh
bash scripts/test-libusb.sh
bash scripts/test-win32.sh
