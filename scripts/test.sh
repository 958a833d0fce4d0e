#!/usr/bin/env bash
# Installs what is missing, builds everything and runs the whole test suite:
# the plain build, then the same suite under AddressSanitizer and
# UndefinedBehaviorSanitizer with leak checking.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
protolib_need "${PROTOLIB_BASE_PACKAGES[@]}" "${PROTOLIB_TEST_PACKAGES[@]}"
jobs=$(nproc)

run_suite() {  # NAME CMAKE-ARGS...
  local name=$1
  shift
  echo "=== $name"
  cmake -S . -B "build/$name" "$@" >/dev/null
  cmake --build "build/$name" -j"$jobs" >/dev/null
  (cd "build/$name" && ctest --output-on-failure -j"$jobs")
}

run_suite tests -DCMAKE_BUILD_TYPE=RelWithDebInfo
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
  run_suite asan-ubsan -DCMAKE_BUILD_TYPE=Debug -DPROTOLIB_SANITIZE=address,undefined
