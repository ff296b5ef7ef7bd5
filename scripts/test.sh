#!/usr/bin/env bash
# Builds everything and runs every test: once as a normal build, then the
# host tests again under AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
jobs=$(nproc)

echo "== build and test"
cmake -S . -B build
cmake --build build -j"$jobs"
ctest --test-dir build --output-on-failure -j"$jobs"

echo "== host tests under AddressSanitizer and UndefinedBehaviorSanitizer"
export ASAN_OPTIONS=halt_on_error=1:abort_on_error=1:detect_leaks=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
cmake -S . -B build-asan -DKIT_SANITIZE=ON -DKIT_BENCHMARKS=OFF
cmake --build build-asan -j"$jobs"
ctest --test-dir build-asan --output-on-failure -j"$jobs"
echo "== fuzzing, a minute per harness"; bash scripts/fuzz.sh 60
