# shellcheck shell=bash
# Sourced by the other scripts: what the stages share.

# A script that stops at its first failing command (set -e) names it.
if [[ $- == *e* ]]; then
  set -E
  trap 'echo "${BASH_SOURCE[0]:-$0}: line $LINENO: exit status $?: $BASH_COMMAND" >&2' ERR
fi

# Root runs apt and dpkg itself; anyone else through sudo.
protolib_sudo=""
[ "$(id -u)" -ne 0 ] && protolib_sudo="sudo"

# Build and test jobs: the processors, two at the most.
protolib_jobs=$(nproc)
[ "$protolib_jobs" -gt 2 ] && protolib_jobs=2

# Installs the Debian packages the project needs when any is missing.
# Usage: protolib_need PACKAGE...
protolib_need() {
  local missing=()
  local p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" ||
      missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "installing: ${missing[*]}"
  $protolib_sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $protolib_sudo apt-get install -y -qq --no-install-recommends \
    "${missing[@]}" >/dev/null || { echo "could not install: ${missing[*]}" >&2; return 1; }
}

PROTOLIB_BASE_PACKAGES=(cmake make g++ pkg-config libprotobuf-dev libprotoc-dev libcli11-dev help2man)
PROTOLIB_TEST_PACKAGES=(libgtest-dev libbenchmark-dev python3 xxd)
# What scripts/build-debs.sh needs beside the base packages (which are the
# Build-Depends of debian/control).
PROTOLIB_DEB_PACKAGES=(build-essential debhelper dpkg-dev lintian)

# Builds the configured tree DIR of stage NAME, logging to build/NAME-build.log;
# when the build fails, prints its errors and fails.
# Usage: protolib_build NAME DIR [cmake --build ARGS...]
protolib_build() {
  local log=build/$1-build.log started=$SECONDS
  nice cmake --build "$2" -j"$protolib_jobs" "${@:3}" >"$log" 2>&1 || {
    grep -E -B2 -A10 'error|Error' "$log" | head -200
    echo "$1: the build failed (full log: $log)"
    return 1
  }
  echo "built in $((SECONDS - started)) s"
}
