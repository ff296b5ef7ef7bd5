#!/usr/bin/env bash
# Builds the libFuzzer harnesses (fuzz/, in build-fuzz/) and runs each for
# SECONDS (default 60) on its corpus. Exits non-zero when any harness finds
# something (crash, broken invariant, sanitizer report, leak, timeout, memory
# limit); the input is kept in build-fuzz/findings/<harness>/.
#
#   scripts/fuzz.sh [SECONDS]
#
# FUZZ_HARNESSES="fuzz_cis fuzz_load" runs only those; FUZZ_WORKERS=N runs
# each harness in N worker processes (libFuzzer's -fork=N).
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
case $seconds in '' | *[!0-9]*) echo "usage: scripts/fuzz.sh [SECONDS]" >&2; exit 2 ;; esac

bash scripts/install-deps.sh
command -v clang >/dev/null && command -v clang++ >/dev/null || {
  echo "fuzz.sh: clang is needed (libFuzzer)" >&2
  exit 1
}

build=build-fuzz
cmake -S fuzz -B "$build" -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$(nproc)"

# Seeds made at run time: the card images of cards/ and the firmware's CIS
# images (for fuzz_cis laid into a window as the card lays them), and the
# registry fixtures of the Dialtrim tests.
seeds=$build/seeds
rm -rf "$seeds"
mkdir -p "$seeds"/fuzz_cis "$seeds"/fuzz_load "$seeds"/fuzz_regfile "$seeds"/fuzz_cmdline
for cis in cards/*.cis /lib/firmware/cis/*.cis; do
  [ -f "$cis" ] || continue
  name=$(basename "$cis" .cis)
  [ "${cis#cards/}" != "$cis" ] && name=card-$name
  cp "$cis" "$seeds/fuzz_load/$name"
  "$build/cis_window" "$cis" "$seeds/fuzz_cis/$name"
done
for reg in tests/dialtrim/fixtures/*.reg; do
  [ -f "$reg" ] && cp "$reg" "$seeds/fuzz_regfile/"
done

declare -A max_len=([fuzz_cis]=4097 [fuzz_load]=2048 [fuzz_regfile]=4096 [fuzz_cmdline]=2048)
harnesses=${FUZZ_HARNESSES:-fuzz_cis fuzz_load fuzz_regfile fuzz_cmdline}
failed=()
for h in $harnesses; do
  if [ ! -x "$build/$h" ]; then
    echo "== $h: not built (its code is not in the tree), skipped"
    continue
  fi
  corpus=$build/corpus/$h
  findings=$build/findings/$h
  mkdir -p "$corpus" "$findings" "fuzz/corpus/$h"
  options=(-max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len="${max_len[$h]:-4096}"
           -artifact_prefix="$findings/" -print_final_stats=1)
  [ -n "${FUZZ_WORKERS:-}" ] && options+=(-fork="$FUZZ_WORKERS" -ignore_crashes=0)
  [ -f "fuzz/$h.dict" ] && options+=(-dict="fuzz/$h.dict")
  echo "== $h for ${seconds}s"
  log=$build/$h.log
  if "$build/$h" "${options[@]}" "$corpus" "fuzz/corpus/$h" "$seeds/$h" >"$log" 2>&1; then
    grep -E '^(stat::number_of_executed_units|stat::average_exec_per_sec|#[0-9]+[[:space:]]+DONE)' "$log" || tail -n 3 "$log"
  else
    tail -n 40 "$log"
    echo "== $h: FINDING, input kept in $findings/" >&2
    failed+=("$h")
  fi
done
if [ ${#failed[@]} -ne 0 ]; then
  echo "fuzz.sh: findings in ${failed[*]}" >&2
  exit 1
fi
