#!/bin/sh
# Runs a test program under Wine: wine-run.sh [--winusb=ORDER] PROGRAM [ARGS...]
# --winusb=n makes Wine load the winusb.dll beside the program (the stand-in)
# instead of its own. The output goes through a file: services that Wine
# starts on the program's behalf outlive it and would hold a pipe open.
set -u
overrides=${WINEDLLOVERRIDES:-}
case "${1:-}" in
  --winusb=*) overrides="${overrides:+$overrides;}winusb=${1#--winusb=}"; shift ;;
esac
if [ $# -eq 0 ]; then
  echo "usage: wine-run.sh [--winusb=ORDER] PROGRAM [ARGS...]" >&2
  exit 2
fi
output=$(mktemp)
WINEDLLOVERRIDES=$overrides wine "$@" >"$output" 2>&1
status=$?
cat "$output"
rm -f "$output"
exit $status
