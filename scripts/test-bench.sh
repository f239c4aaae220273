#!/usr/bin/env bash
# Builds the benchmarks and runs each once, briefly, so that they keep working.
# They measure; they assert no timing.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset bench >/dev/null
cmake --build --preset bench
build/bench/bench/zorek_bench_calls --benchmark_min_time=0.01
for wait in spin pause yield; do
  build/bench/bench/zorek_bench_contention_$wait --benchmark_filter='Contention/(1|8)/' --benchmark_min_time=0.01
done
CALLS=100 bash scripts/instructions.sh
