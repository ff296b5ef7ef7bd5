#!/usr/bin/env bash
# Builds modemsim and runs it; with no arguments on the built-in default
# machine. Arguments go to modemsim (a machine file, --json, --debug N ...).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build -DKIT_BENCHMARKS=OFF >/dev/null
cmake --build build --target modemsim -j"$(nproc)" >/dev/null
exec ./build/tools/modemsim "$@"
