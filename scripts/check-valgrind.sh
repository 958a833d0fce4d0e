#!/usr/bin/env bash
# Runs the test executables under valgrind's memcheck, in build/valgrind:
# no memory errors, and no definitely or indirectly lost blocks once the
# executable has exited (tests/shutdown_env.cc, linked into every test
# executable, shuts the runtime down at exit, so that everything the
# libraries allocated for themselves is freed by then).
#
# Each executable runs once with all its tests (one valgrind start-up per
# executable rather than per test), two at a time. Executables that
# allocate through their own operator new (allocation-failure and shut-down
# tests) keep it: valgrind intercepts the C allocator only. Child processes
# (threads_test's fresh-process cases) run natively.
#
# Measured on the project's 2-core machine: each executable takes 1-12 s
# under valgrind (about 65 times its native time), except oracle_test,
# whose whole run would add some 8 minutes; it runs on the two message
# classes that hold every other class (CommandVelocity and
# MultiPropertyChanged). Set
# PROTOLIB_VALGRIND_ALL=1 to run everything.
#
# Usage: scripts/check-valgrind.sh [extra CMake arguments]
# Exits non-zero on any valgrind error, leak or failing test.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
start=$SECONDS
protolib_need "${PROTOLIB_BASE_PACKAGES[@]}" "${PROTOLIB_TEST_PACKAGES[@]}" valgrind

cmake -S . -B build/valgrind -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
protolib_build valgrind build/valgrind

# GoogleTest filters for the executables that run a subset.
declare -A filters=(
  [oracle_test]='*/CommandVelocity:*/MultiPropertyChanged'
)
[ "${PROTOLIB_VALGRIND_ALL:-0}" = 1 ] && filters=()

logs=build/valgrind/logs
rm -rf "$logs"
mkdir -p "$logs"
mapfile -t binaries < <(find build/valgrind/tests -maxdepth 2 -type f -name '*_test' -perm -u+x |
  sort)
[ ${#binaries[@]} -gt 0 ] || { echo "check-valgrind: no test executables"; exit 1; }

# Runs one executable under valgrind; writes its log, exit status and time.
run_one() {
  local binary=$1 name
  name=$(basename "$binary")
  local args=(--gtest_brief=1)
  [ -n "${filters[$name]:-}" ] && args+=("--gtest_filter=${filters[$name]}")
  local t0=$SECONDS status=0
  valgrind -q --leak-check=full --errors-for-leak-kinds=definite,indirect \
    --error-exitcode=1 --soname-synonyms=somalloc=nouserintercepts \
    "$binary" "${args[@]}" >"$logs/$name.log" 2>&1 || status=$?
  # A filter that names no test would pass without checking anything.
  grep -q '^\[==========\] 0 tests from' "$logs/$name.log" && status=3
  echo "$status $((SECONDS - t0))" >"$logs/$name.result"
}

echo "=== valgrind: ${#binaries[@]} test executables, $protolib_jobs at a time"
for binary in "${binaries[@]}"; do
  while [ "$(jobs -rp | wc -l)" -ge "$protolib_jobs" ]; do wait -n || true; done
  run_one "$binary" &
done
wait

status=0
for binary in "${binaries[@]}"; do
  name=$(basename "$binary")
  read -r code seconds <"$logs/$name.result"
  subset=""
  [ -n "${filters[$name]:-}" ] && subset=" (subset: ${filters[$name]})"
  if [ "$code" = 0 ]; then
    printf '%-32s ok     %4d s%s\n' "$name" "$seconds" "$subset"
  else
    printf '%-32s FAILED %4d s%s, exit %s\n' "$name" "$seconds" "$subset" "$code"
    status=1
  fi
done
for binary in "${binaries[@]}"; do
  name=$(basename "$binary")
  read -r code _ <"$logs/$name.result"
  [ "$code" = 0 ] && continue
  echo "--- $name (full log: $logs/$name.log)"
  # valgrind's reports and GoogleTest's failures, without the runtime's
  # own log lines.
  grep -v '^\[libprotobuf' "$logs/$name.log" | head -300
done

echo "check-valgrind: $([ $status -eq 0 ] && echo passed || echo FAILED), $((SECONDS - start)) s"
exit $status
