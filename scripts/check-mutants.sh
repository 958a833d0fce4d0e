#!/usr/bin/env bash
# Mutation check: puts each fault of scripts/mutants.txt, one at a time, into a
# scratch copy of the source tree (never this one), rebuilds it incrementally
# and runs the test suite, which must fail. Prints per fault:
#   caught   the suite failed
#   missed   the suite passed: no test notices the fault
#   stale    its text is not found exactly once (the code moved on)
#   broken   the faulty tree does not build (the fault needs rewriting)
# and a total; the exit status is non-zero unless every fault is caught.
#
# Usage: scripts/check-mutants.sh [--dry-run] [NAME...]   (default: every fault)
#   --dry-run  only applies each fault to the copy: finds the stale ones fast
# Environment: MUTANTS_REV (check that commit's tree instead of the working
#   tree), MUTANTS_DIR (scratch directory, default build/mutants),
#   MUTANTS_TESTS (a ctest -R pattern: run only those tests), JOBS (default 2).
# Uses ccache when installed: the faults then cost a few compilations each.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
table=$root/scripts/mutants.txt
work=${MUTANTS_DIR:-$root/build/mutants}
src=$work/src
bld=$work/build
saved=$work/saved
jobs=${JOBS:-2}

# --- The scratch copy: the tracked and untracked (not ignored) files, or the
# tree of commit $MUTANTS_REV. A file is copied only when its content changed,
# so that the copy's build stays incremental.
rm -rf "$saved" "$work/incoming"
mkdir -p "$src" "$saved" "$work/incoming"
if [ -n "${MUTANTS_REV:-}" ]; then
  git -C "$root" ls-tree -r --name-only "$MUTANTS_REV" | sort >"$work/files"
  git -C "$root" archive "$MUTANTS_REV" | tar -xf - -C "$work/incoming"
else
  (cd "$root" && git ls-files -co --exclude-standard) | sort >"$work/files"
  (cd "$root" && tar -cf - -T "$work/files") | tar -xf - -C "$work/incoming"
fi
while read -r f; do
  if [ -f "$work/incoming/$f" ] && ! cmp -s "$work/incoming/$f" "$src/$f"; then
    mkdir -p "$(dirname "$src/$f")" && cp "$work/incoming/$f" "$src/$f"
  fi
done <"$work/files"
# Files that are gone from the tree leave the copy too (tests are globbed).
(cd "$src" && find . -type f | sed 's|^\./||' | sort) | comm -13 "$work/files" - |
  (cd "$src" && xargs -r rm -f)
rm -rf "$work/incoming"

launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
# Executables load the rebuilt shared libraries without being linked again,
# and the message libraries, which nearly every fault rebuilds, are compiled
# without optimization: a fault then costs seconds to build, not minutes.
cat >"$work/fast-libraries.cmake" <<'CMAKE'
cmake_language(DEFER DIRECTORY ${CMAKE_SOURCE_DIR} CALL set_property TARGET
               session_protolib calibration_protolib APPEND PROPERTY COMPILE_OPTIONS -O0 -g0)
CMAKE
cmake -S "$src" -B "$bld" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPROTOLIB_BUILD_EXAMPLES=OFF \
  -DCMAKE_LINK_DEPENDS_NO_SHARED=ON -DCMAKE_PROJECT_INCLUDE="$work/fast-libraries.cmake" \
  "${launcher[@]}" >"$work/configure.log" 2>&1 || { cat "$work/configure.log"; exit 2; }

build() { nice cmake --build "$bld" -j"$jobs" >"$work/build.log" 2>&1; }
# The in-process tests first: most faults fail them within seconds. The
# subprocess tests of the tool and the install check ($later) run only when
# those pass.
later='^session_proto\.[A-Za-z]+$|^install_and_consume$'
run_tests() {
  local ctest=(nice ctest -j"$jobs" --timeout 300 --stop-on-failure)
  if [ -n "${MUTANTS_TESTS:-}" ]; then
    (cd "$bld" && "${ctest[@]}" -R "$MUTANTS_TESTS" >"$work/test.log" 2>&1)
  else
    (cd "$bld" && "${ctest[@]}" -E "$later" >"$work/test.log" 2>&1 &&
      "${ctest[@]}" -R "$later" >>"$work/test.log" 2>&1)
  fi
}

# Applies fault NAME to the copy, saving the originals of the files it
# changes in $saved; prints "stale: REASON" and fails when it cannot.
apply() {
  python3 - "$table" "$1" "$src" "$saved" <<'EOF'
import os, re, sys
table, name, src, saved = sys.argv[1:]
faults, current = {}, None
for line in open(table, encoding="utf-8").read().splitlines():
    if line.startswith("@@ "):
        _, fault, path = line.split()
        current = faults[fault] = {"path": path, "old": [], "new": []}
    elif current is not None and line[:1] in ("-", "+") and line[1:2] in ("", " "):
        current["old" if line[0] == "-" else "new"].append(line[2:])
fault = faults[name]
# Any run of white space, a macro's line continuations included, matches any other.
space = r"(?:\s|\\\n)+"
words = " ".join(fault["old"]).split()
pattern = re.compile(space.join(re.escape(w) for w in words))
base = os.path.join(src, fault["path"])
files = [base] if os.path.isfile(base) else sorted(
    os.path.join(d, f) for d, _, fs in os.walk(base) for f in fs)
hits = []
for path in files:
    try:
        text = open(path, encoding="utf-8").read()
    except (UnicodeDecodeError, OSError):
        continue
    hits += [(path, text, m) for m in pattern.finditer(text)]
if len(hits) != 1:
    print("stale: text found %d times in %s" % (len(hits), fault["path"]))
    sys.exit(3)
path, text, m = hits[0]
copy = os.path.join(saved, os.path.relpath(path, src))
os.makedirs(os.path.dirname(copy), exist_ok=True)
open(copy, "w", encoding="utf-8").write(text)
with open(path, "w", encoding="utf-8") as out:
    # Inside a macro the new lines continue it.
    joint = " \\\n" if "\\\n" in m.group(0) else "\n"
    out.write(text[:m.start()] + joint.join(fault["new"]) + text[m.end():])
EOF
}

# Puts the saved originals back, with a new time stamp so that make rebuilds.
restore() {
  (cd "$saved" && find . -type f | sed 's|^\./||') | while read -r f; do
    cp "$saved/$f" "$src/$f" && rm -f "$saved/$f"
  done
}

dry_run=0
[ "${1:-}" = --dry-run ] && { dry_run=1; shift; }
names=("$@")
[ ${#names[@]} -eq 0 ] && mapfile -t names < <(sed -n 's/^@@ \([^ ]*\) .*/\1/p' "$table")

if [ $dry_run = 1 ]; then
  status=0
  for name in "${names[@]}"; do
    if ! reason=$(apply "$name"); then
      printf '%-8s %-40s %s\n' stale "$name" "$reason"
      status=1
    fi
    restore
  done
  echo "mutants: ${#names[@]} checked"
  exit $status
fi

echo "building the scratch copy in $work"
build || { echo "the unchanged tree does not build (see $work/build.log)"; exit 2; }
run_tests || { echo "the unchanged tree fails its tests (see $work/test.log)"; exit 2; }

caught=0 missed=() stale=()
for name in "${names[@]}"; do
  start=$SECONDS
  if ! reason=$(apply "$name"); then
    stale+=("$name")
    printf '%-8s %-40s %s\n' stale "$name" "$reason"
  elif ! build; then
    stale+=("$name")
    printf '%-8s %-40s %s\n' broken "$name" "does not build"
  elif run_tests; then
    missed+=("$name")
    printf '%-8s %-40s %3d s\n' missed "$name" $((SECONDS - start))
  else
    caught=$((caught + 1))
    first=$(grep -m1 -oE '[0-9]+ - [^ ]+ \(' "$work/test.log" | sed 's/^[0-9]* - //; s/ ($//')
    printf '%-8s %-40s %3d s  %s\n' caught "$name" $((SECONDS - start)) "${first:-}"
  fi
  restore
done
build >/dev/null 2>&1
echo "mutants: $caught caught, ${#missed[@]} missed, ${#stale[@]} stale or broken of ${#names[@]}"
[ ${#missed[@]} -eq 0 ] && [ ${#stale[@]} -eq 0 ]
