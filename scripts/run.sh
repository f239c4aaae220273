#!/usr/bin/env bash
# Tries the library without hardware: sets up a fresh Debian machine (as root),
# builds zorekctl and zorek-sim, and asks the simulated instrument for its
# identity and temperatures.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh

mkdir -p build
log=build/run.log
echo "Building zorekctl and zorek-sim (log in $log) ..."
if ! { cmake --preset native && cmake --build --preset native --target zorekctl zorek-sim; } >"$log" 2>&1; then
  tail -n 40 "$log" >&2
  echo "run: the build failed; the whole log is in $log" >&2
  exit 1
fi

zorekctl=build/native/bin/zorekctl
show() {
  echo
  echo "\$ zorekctl $*"
  "$zorekctl" "$@"
}
show --sim version
show --sim id
show --sim temperature
show --sim watch --count 3 --interval 0.5
