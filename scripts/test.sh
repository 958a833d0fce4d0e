#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every check:
#   fresh       the README's two commands in a clean Debian 12 root made by
#               debootstrap, with a clone of the commit checked out:
#               scripts/main.sh, then scripts/test.sh, which there runs every
#               stage below; then the Debian packages, built there and
#               installed into a second clean root (scripts/check-fresh.sh)
#   tests       the whole suite (CTest with GoogleTest)
#   asan-ubsan  the same suite under AddressSanitizer and
#               UndefinedBehaviorSanitizer, leak checking on
#   fuzz        the libFuzzer targets: corpus replay, then fuzzing
#   tsan        the suite's thread tests under ThreadSanitizer
#   valgrind    test binaries under valgrind's memcheck
#   i386        the whole suite built and run for 32-bit x86
#   windows     the DLLs, the tool and the suite built as Windows programs:
#               run under Wine for x86-64, built and linked for i686
# Without STAGE, the stage is `fresh`; inside its root (PROTOLIB_FRESH_ROOT
# set) every stage after it. Each later stage is also a script of its own
# (scripts/check-*.sh). All stages run; the summary lists each stage's
# result and time (those run inside the fresh root, and the fresh stage's
# own steps, among them), the line counts of scripts/count-lines.sh, and
# ends with `stages: N passed, M failed`, N and M counting those lines; the
# exit status is non-zero if any failed.
# Usage: scripts/test.sh [STAGE...]
set -uo pipefail
cd "$(dirname "$0")/.." || exit 1
source scripts/deps.sh

run_suite() {  # NAME CMAKE-ARGS...
  local name=$1
  shift
  protolib_need "${PROTOLIB_BASE_PACKAGES[@]}" "${PROTOLIB_TEST_PACKAGES[@]}" &&
    cmake -S . -B "build/$name" "$@" >/dev/null &&
    protolib_build "$name" "build/$name" &&
    (cd "build/$name" && ctest --output-on-failure -j"$protolib_jobs")
}

stage() {
  case $1 in
    tests) run_suite tests -DCMAKE_BUILD_TYPE=RelWithDebInfo ;;
    asan-ubsan)
      ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
        run_suite asan-ubsan -DCMAKE_BUILD_TYPE=Debug -DPROTOLIB_SANITIZE=address,undefined ;;
    fresh | fuzz | tsan | valgrind | i386 | windows) "scripts/check-$1.sh" ;;
    *) echo "unknown stage: $1"; return 2 ;;
  esac
}

stages=("$@")
if [ ${#stages[@]} -eq 0 ]; then
  stages=(fresh)
  [ -n "${PROTOLIB_FRESH_ROOT:-}" ] && stages=(tests asan-ubsan fuzz tsan valgrind i386 windows)
fi
# "NAME passed|FAILED SECONDS" lines; a stage may add its own (fresh adds
# those of the stages inside its root and of its steps) and is then
# counted by them, and as failed once more if it failed listing no failure.
outer=${PROTOLIB_RESULTS:-}
export PROTOLIB_RESULTS
PROTOLIB_RESULTS=$(mktemp)
trap 'rm -f "$PROTOLIB_RESULTS"' EXIT
for s in "${stages[@]}"; do
  echo "=== $s"
  start=$SECONDS
  listed=$(wc -l <"$PROTOLIB_RESULTS")
  result=passed
  stage "$s" || result=FAILED
  echo "=== $s: $result, $((SECONDS - start)) s"
  own=$(tail -n +$((listed + 1)) "$PROTOLIB_RESULTS")
  if [ -z "$own" ] || { [ $result = FAILED ] && ! grep -q ' FAILED ' <<<"$own"; }; then
    echo "$s $result $((SECONDS - start))" >>"$PROTOLIB_RESULTS"
  fi
done
[ -n "$outer" ] && cat "$PROTOLIB_RESULTS" >>"$outer"
echo "=== summary"
awk '{ printf "%-20s %-6s %5d s\n", $1, $2, $3 }' "$PROTOLIB_RESULTS"
scripts/count-lines.sh || echo "lines: not counted"
passed=$(grep -c ' passed ' "$PROTOLIB_RESULTS")
failed=$(grep -c ' FAILED ' "$PROTOLIB_RESULTS")
echo "stages: $passed passed, $failed failed"
[ "$failed" -eq 0 ] || exit 1
