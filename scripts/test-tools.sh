#!/usr/bin/env bash
# Runs the README's first command, scripts/run.sh, and checks that it showed
# the simulated instrument's identity and temperatures.
set -euo pipefail
cd "$(dirname "$0")/.."

out=$(bash scripts/run.sh 2>&1) || { echo "$out"; echo "test-tools: scripts/run.sh failed" >&2; exit 1; }
failed=0
for expected in 'version: 258' 'deviceID: 74565 (0x00012345)' 'tmp1:' 'tmp3:' 'status: 0 (no connection stage failed)' \
  'time                       tmp1   tmp2   tmp3  status'; do
  if ! grep -qF -- "$expected" <<<"$out"; then
    echo "test-tools: scripts/run.sh did not show '$expected'" >&2
    failed=1
  fi
done
readings=$(grep -cE '^[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9:.]+Z +[0-9]+ +[0-9]+ +[0-9]+  0 ' <<<"$out" || true)
if [ "$readings" -ne 3 ]; then
  echo "test-tools: scripts/run.sh showed $readings readings from watch, not 3" >&2
  failed=1
fi
if [ "$failed" -ne 0 ]; then echo "$out"; exit 1; fi
echo "test-tools: scripts/run.sh shows the instrument's identity and temperatures"
