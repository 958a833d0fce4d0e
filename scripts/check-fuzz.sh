#!/usr/bin/env bash
# Builds the libFuzzer targets (fuzz/) with clang in build/fuzz, every target
# instrumented for coverage and built with AddressSanitizer and
# UndefinedBehaviorSanitizer; replays the seed corpus (fuzz/corpus) and the
# saved failure inputs (fuzz/regressions); then fuzzes each target for
# FUZZ_SECONDS seconds (default 60) and prints the executions run. Fuzzing
# goes on past a failure until the time is up, so that one run reports every
# failure it meets; each failing input is replayed once more to show its
# report. Exits non-zero on any crash, leak, sanitizer report or differential
# mismatch.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
protolib_need "${PROTOLIB_BASE_PACKAGES[@]}" clang-14 libclang-rt-14-dev

seconds=${FUZZ_SECONDS:-60}
build=build/fuzz
work=$build/work
targets=(commander velocity extremes)
cxx=$(command -v clang++-14 || command -v clang++)

echo "=== building the fuzz targets with $cxx"
cmake -S . -B "$build" -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DPROTOLIB_BUILD_FUZZERS=ON -DPROTOLIB_FUZZ_INSTRUMENT=ON \
  -DPROTOLIB_SANITIZE=address,undefined \
  -DPROTOLIB_BUILD_TESTS=OFF -DPROTOLIB_BUILD_TOOLS=OFF -DPROTOLIB_BUILD_EXAMPLES=OFF >/dev/null
protolib_build fuzz "$build" --target commander_fuzzer velocity_fuzzer extremes_fuzzer

export ASAN_OPTIONS=detect_leaks=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

failures=0

# Shows the report of one failing input.
show() {  # FUZZER INPUT
  echo "--- $2 ($(od -An -tx1 -v "$2" | tr -s ' \n' ' ' | cut -c1-300))"
  "$1" -runs=1 "$2" 2>&1 |
    grep -v -E '^(INFO:|Running:|Executed|MERGE|NOTE:|\*\*\*)|in fuzzer::|^ +Combine' |
    grep -v '^$' | head -30 || true
}

echo "=== replaying the seed corpus and the regression inputs"
for t in "${targets[@]}"; do
  fuzzer=$build/fuzz/${t}_fuzzer
  count=0
  for input in fuzz/corpus/"$t"/* fuzz/regressions/"$t"/*; do
    [ -f "$input" ] || continue
    count=$((count + 1))
    if ! "$fuzzer" -runs=1 "$input" >/dev/null 2>&1; then
      failures=$((failures + 1))
      echo "FAIL: $t: $input"
      show "$fuzzer" "$input"
    fi
  done
  echo "$t: replayed $count inputs"
done

echo "=== fuzzing each target for $seconds s"
for t in "${targets[@]}"; do
  fuzzer=$build/fuzz/${t}_fuzzer
  rm -rf "$work/artifacts/$t"
  mkdir -p "$work/corpus/$t" "$work/artifacts/$t"
  log=$work/$t.log
  status=0
  "$fuzzer" -fork=1 -ignore_crashes=1 -max_total_time="$seconds" -timeout=10 \
    -rss_limit_mb=2048 -print_funcs=0 -artifact_prefix="$work/artifacts/$t/" \
    "$work/corpus/$t" "fuzz/corpus/$t" >"$log" 2>&1 || status=$?
  runs=$(grep -E '^#[0-9]+:' "$log" | tail -n 1 | sed -E 's/^#([0-9]+):.*/\1/')
  found=$(find "$work/artifacts/$t" -type f | wc -l)
  echo "$t: ${runs:-0} executions in $seconds s, $found failing inputs (log: $log)"
  if [ "$status" -ne 0 ] || [ "$found" -ne 0 ]; then
    failures=$((failures + found + (found == 0 ? 1 : 0)))
    [ "$found" -eq 0 ] && tail -n 30 "$log"
    find "$work/artifacts/$t" -type f | head -n 5 | while read -r input; do
      show "$fuzzer" "$input"
    done
  fi
done

if [ "$failures" -ne 0 ]; then
  echo "check-fuzz: $failures failure(s)"
  exit 1
fi
echo "check-fuzz: no failure"
