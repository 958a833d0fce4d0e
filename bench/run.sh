#!/usr/bin/env bash
# Builds the benchmarks in Release mode in build/bench, runs them and prints
# a summary: for each workload and direction, the class's and the
# DynamicMessage's CPU time per operation, their ratio (DynamicMessage time /
# class time) against its target, the heap allocations per operation, and
# the class's throughput in MB/s beside the memcpy floor of the same bytes,
# and the benchmarks whose median lies well above their best repetition (the
# machine slowed down during them: such a run is worth repeating).
#
# Times are medians over REPETITIONS runs, interleaved at random so that a
# burst of load from elsewhere falls on every benchmark alike; the ratio of
# the medians decides. The ratio of the best runs ("min") is shown beside.
# Allocations per operation are the mean over the repetitions, so any
# repetition that allocated shows.
#
# Usage: bench/run.sh [extra benchmark flags, e.g. --benchmark_filter=drive/]
# Environment: MIN_TIME (seconds per repetition, default 0.3),
#              REPETITIONS (default 9),
#              BUILD_DIR (default build/bench).
# Exit status: 0 when every target is met, 2 when one is missed.
set -euo pipefail
cd "$(dirname "$0")/.."

build=${BUILD_DIR:-build/bench}
min_time=${MIN_TIME:-0.3}
repetitions=${REPETITIONS:-9}
json=$build/bench_results.json

# Tools and examples are off: the benchmark needs neither.
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release \
  -DPROTOLIB_BUILD_BENCHMARKS=ON -DPROTOLIB_BUILD_TESTS=OFF \
  -DPROTOLIB_BUILD_TOOLS=OFF -DPROTOLIB_BUILD_EXAMPLES=OFF >/dev/null
cmake --build "$build" -j2 --target protolib_bench >/dev/null

load_before=$(cut -d' ' -f1-3 /proc/loadavg 2>/dev/null || echo "?")
"$build/bench/protolib_bench" \
  --benchmark_min_time="$min_time" \
  --benchmark_repetitions="$repetitions" \
  --benchmark_report_aggregates_only=true \
  --benchmark_enable_random_interleaving=true \
  --benchmark_out="$json" --benchmark_out_format=json \
  "$@"
load_after=$(cut -d' ' -f1-3 /proc/loadavg 2>/dev/null || echo "?")

python3 - "$json" "$load_before" "$load_after" <<'PY'
import json
import sys

with open(sys.argv[1]) as f:
    data = json.load(f)

SCALE = {"ns": 1.0, "us": 1e3, "ms": 1e6, "s": 1e9}

# stats[name][aggregate] = (cpu ns per op, allocs per op); a single
# unrepeated run counts as every aggregate.
stats = {}
for b in data["benchmarks"]:
    name = b.get("run_name", b["name"])
    if b.get("error_occurred"):
        print("ERROR in %s: %s" % (name, b.get("error_message", "")))
        continue
    value = (b["cpu_time"] * SCALE[b.get("time_unit", "ns")],
             b.get("allocs_per_op", float("nan")))
    if b.get("run_type", "iteration") == "aggregate":
        stats.setdefault(name, {})[b["aggregate_name"]] = value
    else:
        stats.setdefault(name, {}).setdefault("single", value)

def get(name, aggregate):
    s = stats.get(name)
    if s is None:
        return None
    return s.get(aggregate, s.get("single"))

targets = {"encode": 30.0, "decode": 12.0}
ctx = data.get("context", {})
missed = []
header = ("workload", "dir", "class ns", "dynamic ns", "ratio", "target",
          "min ratio", "class allocs/op", "dynamic allocs/op", "class MB/s",
          "memcpy MB/s", "verdict")
lines = []
workloads = []
for name in stats:
    parts = name.split("/")
    if len(parts) == 3 and parts[0] != "harness" and parts[0] not in workloads:
        workloads.append(parts[0])
for w in workloads:
    size = float(ctx.get("bytes_" + w, "nan"))
    floor = get("%s/copy/memcpy" % w, "median")
    for d in ("encode", "decode"):
        c_name, y_name = "%s/%s/class" % (w, d), "%s/%s/dynamic" % (w, d)
        c, y = get(c_name, "median"), get(y_name, "median")
        if c is None or y is None:
            continue
        c_min, y_min = get(c_name, "min"), get(y_name, "min")
        c_alloc, y_alloc = get(c_name, "mean")[1], get(y_name, "mean")[1]
        ratio = y[0] / c[0]
        why = []
        if ratio < targets[d]:
            why.append("ratio < %gx" % targets[d])
        if c_alloc != 0:
            why.append("class allocates")
        verdict = "MISSED (" + ", ".join(why) + ")" if why else "ok"
        if why:
            missed.append("%s/%s" % (w, d))
        lines.append((w, d, "%.1f" % c[0], "%.1f" % y[0], "%.1fx" % ratio,
                      ">=%gx" % targets[d], "%.1fx" % (y_min[0] / c_min[0]),
                      "%.3g" % c_alloc, "%.3g" % y_alloc,
                      "%.0f" % (size / c[0] * 1e3),
                      "%.0f" % (size / floor[0] * 1e3) if floor else "?",
                      verdict))

widths = [max(len(str(r[i])) for r in [header] + lines) for i in range(len(header))]
def show(r):
    print("  ".join(str(v).ljust(widths[i]) for i, v in enumerate(r)).rstrip())
print()
show(header)
show(tuple("-" * n for n in widths))
for r in lines:
    show(r)
print()
print("times: median CPU ns per operation over %s interleaved repetitions; "
      "ratio = DynamicMessage time / class time" % data["benchmarks"][0].get("repetitions", "?"))
baseline = get("harness/empty_loop", "mean")
if baseline is not None:
    print("harness allocations per empty iteration: %.3g" % baseline[1])
sizes = ", ".join("%s %s B" % (k[len("bytes_"):], v) for k, v in ctx.items()
                  if k.startswith("bytes_"))
if sizes:
    print("encoded sizes: " + sizes)
print("load average before/after: %s / %s (on %s CPUs)"
      % (sys.argv[2], sys.argv[3], ctx.get("num_cpus", "?")))
# A median well above the best repetition means the machine slowed down for
# much of that benchmark's repetitions: its ratio says more of the machine
# than of the code, and the run is worth repeating.
disturbed = sorted(n for n in stats if not n.startswith("harness/")
                   and get(n, "median") and get(n, "min")
                   and get(n, "median")[0] > 1.2 * get(n, "min")[0])
if disturbed:
    print("disturbed (median > 1.2 x best repetition): " + ", ".join(disturbed))
if missed:
    print("targets missed: " + ", ".join(missed))
    sys.exit(2)
print("all targets met")
PY
