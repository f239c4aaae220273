#!/usr/bin/env bash
# Sanitizers, memcheck and fuzzing of the core on the simulated platform.
set -euo pipefail
cd "$(dirname "$0")/.."

echo "== AddressSanitizer + UndefinedBehaviorSanitizer"
cmake --preset asan >/dev/null
cmake --build --preset asan
ctest --preset asan

echo "== ThreadSanitizer"
cmake --preset tsan >/dev/null
cmake --build --preset tsan
ctest --preset tsan

echo "== Valgrind memcheck (native build)"
for suite in zorek_tests zorek_reliability_tests; do
  valgrind -q --error-exitcode=99 --leak-check=full --errors-for-leak-kinds=definite,indirect \
    "build/native/tests/$suite" --gtest_brief=1
done

echo "== libFuzzer"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fuzz() {  # target, runs, seed corpus
  mkdir -p "$work/$1"
  "build/fuzz/fuzz/$1" -runs="$2" -artifact_prefix="$work/" "$work/$1" "$3"
}
fuzz zorek_fuzz_replies 100000 fuzz/corpus/replies
fuzz zorek_fuzz_config 100000 fuzz/corpus/config
