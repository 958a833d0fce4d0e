#!/usr/bin/env bash
# Counts source lines: the tests (tests/ and fuzz/) against everything else
# that is C++, Python, shell or CMake, and prints the tests' share of the whole.
# A line counts when it is neither blank nor only comment: // and /* */ in
# C++, # in the others, and docstrings in Python. Scripts without an
# extension count when their first line names a shell or Python.
# Usage: scripts/count-lines.sh [-v]   (-v lists each file's count)
set -euo pipefail
cd "$(dirname "$0")/.."

list_files() {
  if git rev-parse --git-dir >/dev/null 2>&1; then
    git ls-files --cached --others --exclude-standard
  else
    find . -path ./.git -prune -o -type f -print | sed 's|^\./||'
  fi
}

# The files that count: C++, Python, shell and CMake (count() tells their
# comment syntax apart by the name again).
sources() {
  local f base
  while IFS= read -r f; do
    [ -f "$f" ] || continue
    base=${f##*/}
    case $f in build/* | build-*/*) continue ;; esac
    case $base in
      *.cc | *.cpp | *.cxx | *.h | *.hpp | *.py | *.sh | *.cmake | *.cmake.in | CMakeLists.txt)
        echo "$f" ;;
      *.*) ;;
      *) head -n 1 "$f" | grep -qE '^#!.*(sh|python)' && echo "$f" ;;
    esac
  done
}

# Prints "COUNT PATH" for each file named on standard input.
count() {
  xargs -r awk '
    FNR == 1 { if (file != "") print n + 0, file
               file = FILENAME; n = 0; in_block = 0; in_doc = 0
               cxx = FILENAME ~ /\.(cc|cpp|cxx|h|hpp)$/; python = FILENAME ~ /\.py$/ }
    { line = $0; gsub(/^[ \t]+|[ \t\r]+$/, "", line) }
    cxx {
      if (in_block) {
        if (!index(line, "*/")) next
        in_block = 0; line = substr(line, index(line, "*/") + 2); sub(/^[ \t]+/, "", line)
      }
      if (line == "" || line ~ /^\/\//) next
      if (line ~ /^\/\*/) { if (!index(substr(line, 3), "*/")) in_block = 1; next }
      n++; next
    }
    in_doc { if (index(line, quote)) in_doc = 0; next }
    line == "" || line ~ /^#/ { next }
    python && (line ~ /^"""/ || line ~ /^'"'''"'/) {
      quote = substr(line, 1, 3); if (!index(substr(line, 4), quote)) in_doc = 1; next
    }
    { n++ }
    END { if (file != "") print n + 0, file }'
}

tests=0
source=0
while read -r n f; do
  case $f in
    tests/* | fuzz/*) tests=$((tests + n)); group=test ;;
    *) source=$((source + n)); group=source ;;
  esac
  [ "${1:-}" = -v ] && printf '%6d  %-6s %s\n' "$n" "$group" "$f"
done < <(list_files | sources | sort | count)
total=$((tests + source))
percent=$(awk -v t="$tests" -v a="$total" 'BEGIN { printf "%.1f", a ? 100 * t / a : 0 }')
echo "lines: tests $tests, other source $source, tests are $percent% of $total"
