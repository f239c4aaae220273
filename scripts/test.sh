#!/usr/bin/env bash
# Every test: sets up a fresh Debian machine (as root), builds and runs the suites.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh

cmake --preset native
cmake --build --preset native
ctest --preset native

bash scripts/test-win32.sh
