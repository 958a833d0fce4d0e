#!/usr/bin/env bash
# Builds the test suite under ThreadSanitizer in build/tsan and runs the
# concurrency tests (tests/threads_test.cc: first reflection calls from many
# threads at once in fresh child processes, and many threads encoding and
# decoding over the shared default instances), then the rest of the suite.
#
# The runtime library itself is Debian's, not instrumented: a race inside
# it is seen only where one of its sides is in the project's code or in
# inline runtime code compiled into it.
#
# Usage: scripts/check-tsan.sh [extra CMake arguments]
# Exits non-zero on any race report or failing test.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
start=$SECONDS
protolib_need "${PROTOLIB_BASE_PACKAGES[@]}" "${PROTOLIB_TEST_PACKAGES[@]}"

cmake -S . -B build/tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPROTOLIB_SANITIZE=thread \
  "$@" >/dev/null
protolib_build tsan build/tsan

# A race report makes the process exit with 66 at its end; every report is
# printed. The child processes of threads_test inherit these options.
export TSAN_OPTIONS="${TSAN_OPTIONS:-second_deadlock_stack=1 history_size=4}"
# GCC 12's ThreadSanitizer cannot map its shadow memory when the kernel
# randomizes more than 28 bits of mmap addresses; run without randomization
# there.
run=()
if [ "$(cat /proc/sys/vm/mmap_rnd_bits 2>/dev/null || echo 28)" -gt 28 ]; then
  run=(setarch "$(uname -m)" -R)
fi

status=0
echo "=== tsan: threads_test"
threads_start=$SECONDS
"${run[@]}" build/tsan/tests/threads_test || status=1
echo "threads_test: $((SECONDS - threads_start)) s"

echo "=== tsan: the rest of the suite"
suite_start=$SECONDS
(cd build/tsan &&
  "${run[@]}" ctest --output-on-failure -j"$protolib_jobs" \
    -E '^(Scenarios/FirstCallsFromManyThreads|SharedDefaults)\.') || status=1
echo "suite: $((SECONDS - suite_start)) s"

echo "check-tsan: $([ $status -eq 0 ] && echo passed || echo FAILED), $((SECONDS - start)) s"
exit $status
