#!/usr/bin/env bash
# Checks the Debian packages as installed (apt-get install ./*.deb): builds
# examples/ against the system's session_protolib, once through
# find_package(session_protolib) and once through pkg-config, runs the
# example programs of both builds, and runs /usr/bin/session-proto demo.
# Installs cmake, g++, make and pkg-config when they are missing. Needs
# nothing else of the project than examples/.
# Usage: scripts/check-installed.sh
set -euo pipefail
cd "$(dirname "$0")/.."
fail() {
  echo "check-installed: $*" >&2
  exit 1
}

sudo=""
[ "$(id -u)" -ne 0 ] && sudo=sudo
installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }
missing=()
for p in cmake g++ make pkg-config; do
  installed "$p" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  { $sudo apt-get update -qq &&
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends \
      "${missing[@]}" >/dev/null; } || fail "cannot install ${missing[*]}"
fi
for p in libsession-protolib1 libcalibration-protolib1 libsession-protolib-dev session-proto; do
  installed "$p" || fail "package $p is not installed (apt-get install ./*.deb)"
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Runs an example program built against the system's libraries.
run() {  # PROGRAM
  local out
  ldd "$1" | grep -q '=> /\(usr/\)\?lib/.*/libsession_protolib\.so\.1 ' ||
    fail "$1 does not load the installed libsession_protolib.so.1: $(ldd "$1")"
  out=$("$1" 2>&1) || { echo "$out"; fail "$1 failed"; }
  echo "  ${1#"$work"/}: $(tail -1 <<<"$out")"
}

echo "examples through find_package(session_protolib):"
cmake -S examples -B "$work/cmake" >"$work/cmake.log" 2>&1 ||
  { cat "$work/cmake.log"; fail "configuring examples/ with find_package(session_protolib) failed"; }
found=$(sed -n 's/^session_protolib_DIR:PATH=//p' "$work/cmake/CMakeCache.txt")
[[ $found == /usr/lib/*/cmake/session_protolib ]] ||
  fail "find_package(session_protolib) found '$found', not the installed package"
cmake --build "$work/cmake" >"$work/build.log" 2>&1 ||
  { cat "$work/build.log"; fail "building examples/ with find_package(session_protolib) failed"; }
run "$work/cmake/drive_command_example"
run "$work/cmake/change_set_example"

echo "examples through pkg-config --cflags --libs session_protolib:"
flags=$(pkg-config --cflags --libs session_protolib) ||
  fail "pkg-config cannot resolve session_protolib"
for example in drive_command change_set; do
  # shellcheck disable=SC2086
  c++ -std=c++17 "examples/$example.cc" -o "$work/$example" $flags ||
    fail "building examples/$example.cc with pkg-config's flags ($flags) failed"
  run "$work/$example"
done

echo "/usr/bin/session-proto demo:"
/usr/bin/session-proto demo >"$work/demo.txt" 2>&1 ||
  { cat "$work/demo.txt"; fail "session-proto demo failed"; }
echo "  $(wc -l <"$work/demo.txt") lines of output"
grep -E '^(==|round trip)' "$work/demo.txt" | sed 's/^/  /' || true
echo "installed packages: ok"
