#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every check:
#   tests       the whole suite (CTest with GoogleTest)
#   asan-ubsan  the same suite under AddressSanitizer and
#               UndefinedBehaviorSanitizer, leak checking on
#   fuzz        the libFuzzer targets: corpus replay, then fuzzing
#   tsan        the suite's thread tests under ThreadSanitizer
#   valgrind    test binaries under valgrind's memcheck
#   i386        the whole suite built and run for 32-bit x86
#   windows     the DLLs, the tool and the suite built as Windows programs:
#               run under Wine for x86-64, built and linked for i686
# The summary ends with the line counts of scripts/count-lines.sh.
# Each later stage is also a script of its own (scripts/check-*.sh). All
# stages run; the exit status is non-zero if any failed.
# Usage: scripts/test.sh [STAGE...]   (default: all, in the order above)
set -uo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
protolib_need "${PROTOLIB_BASE_PACKAGES[@]}" "${PROTOLIB_TEST_PACKAGES[@]}" || exit 1

run_suite() {  # NAME CMAKE-ARGS...
  local name=$1
  shift
  cmake -S . -B "build/$name" "$@" >/dev/null &&
    cmake --build "build/$name" -j"$protolib_jobs" >/dev/null &&
    (cd "build/$name" && ctest --output-on-failure -j"$protolib_jobs")
}

stage() {
  case $1 in
    tests) run_suite tests -DCMAKE_BUILD_TYPE=RelWithDebInfo ;;
    asan-ubsan)
      ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
        run_suite asan-ubsan -DCMAKE_BUILD_TYPE=Debug -DPROTOLIB_SANITIZE=address,undefined ;;
    fuzz | tsan | valgrind | i386 | windows) "scripts/check-$1.sh" ;;
    *) echo "unknown stage: $1"; return 2 ;;
  esac
}

stages=("$@")
[ ${#stages[@]} -eq 0 ] && stages=(tests asan-ubsan fuzz tsan valgrind i386 windows)
passed=0
failed=()
for s in "${stages[@]}"; do
  echo "=== $s"
  start=$SECONDS
  if stage "$s"; then
    passed=$((passed + 1))
    echo "=== $s: passed in $((SECONDS - start)) s"
  else
    failed+=("$s")
    echo "=== $s: FAILED after $((SECONDS - start)) s"
  fi
done
[ ${#failed[@]} -gt 0 ] && echo "failed stages: ${failed[*]}"
scripts/count-lines.sh || echo "lines: not counted"
echo "stages: $passed passed, ${#failed[@]} failed"
[ ${#failed[@]} -eq 0 ]
