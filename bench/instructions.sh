#!/usr/bin/env bash
# A load-independent cross-check of bench/run.sh: runs each benchmark of
# protolib_bench once under callgrind and prints the instructions executed
# per operation by the calls the timed loops make (ByteSizeLong plus
# SerializeWithCachedSizesToArray for encode, ParseFromArray for decode),
# for the class and for DynamicMessage, and their ratio. Instruction counts
# do not depend on what else the machine runs, unlike times; they are no
# substitute for times (a memory-bound or mispredicting loop costs more
# than its instructions say), but they show the direction of a change.
#
# Usage: bench/instructions.sh [REGEX]   (benchmarks to include, default all)
# Environment: BUILD_DIR (default build/bench; reuses run.sh's build).
set -euo pipefail
cd "$(dirname "$0")/.."

build=${BUILD_DIR:-build/bench}
filter=${1:-.}
command -v valgrind >/dev/null || { echo "valgrind is needed (apt-get install valgrind)"; exit 1; }

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release \
  -DPROTOLIB_BUILD_BENCHMARKS=ON -DPROTOLIB_BUILD_TESTS=OFF \
  -DPROTOLIB_BUILD_TOOLS=OFF -DPROTOLIB_BUILD_EXAMPLES=OFF >/dev/null
cmake --build "$build" -j2 --target protolib_bench >/dev/null
bin=$build/bench/protolib_bench

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

names=$("$bin" --benchmark_list_tests=true --benchmark_filter="$filter" | grep -Ev '^harness/|/copy/')
for name in $names; do
  valgrind --tool=callgrind --callgrind-out-file="$work/$(echo "$name" | tr / _).out" \
    "$bin" --benchmark_filter="^$name\$" --benchmark_min_time=0.01 >/dev/null 2>&1
  callgrind_annotate --inclusive=yes --tree=caller \
    "$work/$(echo "$name" | tr / _).out" >"$work/$(echo "$name" | tr / _).txt"
done

python3 - "$work" $names <<'PY'
import os
import re
import sys

work, names = sys.argv[1], sys.argv[2:]
API = re.compile(r"::(ByteSizeLong|SerializeWithCachedSizesToArray|ParseFromArray)\(")
CALLER = re.compile(r"\s*([\d,]+) \([^)]*\)\s+<\s+\S*?:(.*) \(([\d,]+)x\)")
CALLEE = re.compile(r"\s*([\d,]+) \([^)]*\)\s+\*\s+\S*?:(.*?) \[")

def per_op(path):
    """Instructions per call, summed over the API functions that the
    benchmark's Encode or Decode loop calls."""
    total = 0.0
    callers = []
    with open(path) as f:
        for line in f:
            m = CALLEE.match(line)
            if m:
                if API.search(m.group(2)):
                    for ir, caller, calls in callers:
                        if re.search(r"::(Encode|Decode)\(benchmark::State", caller):
                            total += ir / calls
                callers = []
                continue
            m = CALLER.match(line)
            if m:
                callers.append((int(m.group(1).replace(",", "")), m.group(2),
                                int(m.group(3).replace(",", ""))))
            elif not line.strip():
                callers = []
    return total

ir = {n: per_op(os.path.join(work, n.replace("/", "_") + ".txt")) for n in names}
targets = {"encode": 30.0, "decode": 12.0}
print("%-14s %-7s %12s %14s %8s %7s" % ("workload", "dir", "class Ir/op", "dynamic Ir/op",
                                       "ratio", "target"))
for n in names:
    w, d, impl = n.split("/")
    if impl != "class" or "%s/%s/dynamic" % (w, d) not in ir:
        continue
    c, y = ir[n], ir["%s/%s/dynamic" % (w, d)]
    print("%-14s %-7s %12.0f %14.0f %7.1fx %6s" % (w, d, c, y, y / c if c else 0,
                                                  ">=%gx" % targets[d]))
PY
