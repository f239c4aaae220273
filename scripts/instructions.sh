#!/usr/bin/env bash
# Instructions per call of GetTemperature and GetDeviceID on the simulated
# platform, counted by callgrind and split into the library's own and the
# platform's (every ZorekPlatform function, inclusive of what it calls; the
# access-violation guard only for its own instructions, since the transfers
# it runs are counted themselves).
set -euo pipefail
cd "$(dirname "$0")/.."
calls=${CALLS:-1000}

cmake --preset bench >/dev/null
cmake --build --preset bench --target zorek_instructions >/dev/null
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

printf '%-16s %12s %12s %12s\n' function total/call library/call platform/call
for f in GetTemperature GetDeviceID; do
  valgrind -q --tool=callgrind --callgrind-out-file="$out/$f" build/bench/bench/zorek_instructions "$f" "$calls"
  callgrind_annotate --inclusive=yes --threshold=100 "$out/$f" >"$out/$f.inclusive"
  callgrind_annotate --threshold=100 "$out/$f" >"$out/$f.self"
  awk -v f="$f" -v calls="$calls" '
    function count(s) { gsub(",", "", s); return s + 0 }
    FILENAME ~ /inclusive$/ && $0 ~ (":" f " \\[") { total = count($1) }
    FILENAME ~ /inclusive$/ && /:ZorekPlatform::/ && !/GuardAccessViolation/ { platform += count($1) }
    FILENAME ~ /self$/ && /:ZorekPlatform::GuardAccessViolation/ { platform += count($1) }
    END {
      if (total == 0) { print "no cost found for " f > "/dev/stderr"; exit 1 }
      printf "%-16s %12.0f %12.0f %12.0f\n", f, total / calls, (total - platform) / calls, platform / calls
    }' "$out/$f.inclusive" "$out/$f.self"
done
