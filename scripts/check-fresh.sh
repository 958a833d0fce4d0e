#!/usr/bin/env bash
# The README's two commands on a machine that has nothing of the project:
# a minimal Debian 12 root (debootstrap --variant=minbase bookworm, from the
# mirror and with the suites of this machine's apt sources) gets a clone of
# the commit checked out here (HEAD: what is not committed is not in it),
# and runs there, as root, with an empty cache and a clean environment,
#   scripts/main.sh, then scripts/test.sh (PROTOLIB_FRESH_ROOT set: every
#   stage but this one), then scripts/build-debs.sh (the Debian packages,
#   copied out to build/packages/, with the Windows zip the windows stage
#   leaves there).
# A second clean root installs the packages (apt-get install ./*.deb, with
# cmake, g++, pkg-config and make, no recommended packages) and runs
# scripts/check-installed.sh there: the examples built against the system.
#
# The pristine root is cached as a tarball (nothing of the project is in it;
# delete it to take newer packages):
#   ${PROTOLIB_CACHE_DIR:-${XDG_CACHE_HOME:-~/.cache}/session_protolib}
# The roots live in build/fresh/ while the stage runs. Everything runs in
# its own mount and PID namespaces (unshare): its mounts (/proc, /sys, /dev,
# a tmpfs /tmp) and processes end with it, and a trap removes the roots,
# also on failure or interrupt.
#
# Each step prints its time; the results of the inner stages and of the
# steps go to $PROTOLIB_RESULTS when scripts/test.sh runs this.
# PROTOLIB_FRESH_STAGES names the stages to run in the root (default: all).
# Usage: scripts/check-fresh.sh   (as root, or through sudo)
# Exits non-zero if any step fails.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
if [ "$(id -u)" -ne 0 ]; then
  mkdir -p build/fresh build/packages
  exec sudo --preserve-env=PROTOLIB_CACHE_DIR,PROTOLIB_RESULTS,PROTOLIB_FRESH_STAGES,FUZZ_SECONDS,PROTOLIB_VALGRIND_ALL \
    "$0" "$@"
fi
start=$SECONDS
protolib_need debootstrap git
cache=${PROTOLIB_CACHE_DIR:-${XDG_CACHE_HOME:-$HOME/.cache}/session_protolib}
pristine=$cache/debian-bookworm-minbase.tar
results=${PROTOLIB_RESULTS:-/dev/null}
read -ra inner <<<"${PROTOLIB_FRESH_STAGES:-}"
# The settings of the stages that the roots get from this environment.
keep=()
for v in FUZZ_SECONDS PROTOLIB_VALGRIND_ALL; do [ -z "${!v:-}" ] || keep+=("$v=${!v}"); done

mkdir -p build/fresh build/packages
work=$(mktemp -d "$PWD/build/fresh/run.XXXXXX")
running=""
# Ends the namespace still running (its processes end with it), then removes
# the roots; nothing is mounted outside the namespaces.
cleanup() {
  [ -z "$running" ] || { kill -KILL "$running"; wait "$running" 2>/dev/null; sleep 1; } || true
  rm -rf --one-file-system "$work"
}
trap cleanup EXIT
trap 'exit 129' HUP
trap 'exit 130' INT
trap 'exit 143' TERM
# The checkout may belong to the user sudo was called by.
printf '[safe]\n\tdirectory = *\n' >"$work/gitconfig"
export GIT_CONFIG_GLOBAL=$work/gitconfig
commit=$(git rev-parse HEAD)

# This machine's Debian suites of bookworm: debootstrap's mirror, the roots'
# apt sources.
# shellcheck disable=SC2016
sources=$(apt-get indextargets --format '$(TARGET_OF) $(REPO_URI) $(RELEASE)' |
  awk '$1 == "deb" && $3 ~ /^bookworm(-|$)/ { print "deb", $2, $3, "main" }' | sort -u)
mirror=$(awk '$3 == "bookworm" { print $2; exit }' <<<"$sources")

# Runs COMMAND in new mount and PID namespaces, in the background so that a
# signal to this script is handled at once.
isolated() {  # COMMAND...
  local status=0
  unshare --mount --pid --fork --kill-child "$@" &
  running=$!
  wait "$running" || status=$?
  running=""
  return $status
}

# Runs COMMAND as root in the root DIR, in /root/session_protolib, with a
# clean environment (and the signals a background job ignores restored).
in_root() {  # DIR [VAR=VALUE...] COMMAND...
  # shellcheck disable=SC2016
  isolated sh -ec 'r=$1; shift
    mount -t proc proc "$r/proc"
    mount -t sysfs -o ro sysfs "$r/sys"
    mount --rbind /dev "$r/dev"
    mount -t tmpfs tmpfs "$r/dev/shm"
    mount -t tmpfs tmpfs "$r/tmp"
    chroot "$r" env --default-signal=INT,QUIT -i -C /root/session_protolib HOME=/root \
      TERM="${TERM:-dumb}" PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin "$@"
  ' sh "$@"
}

# A clean root in DIR, from the pristine tarball, made first when absent.
make_root() {  # DIR
  local t=$SECONDS
  if [ ! -f "$pristine" ]; then
    echo "making the pristine root: debootstrap --variant=minbase bookworm ${mirror:-}"
    isolated debootstrap --variant=minbase bookworm "$work/pristine" ${mirror:+"$mirror"} \
      >"$work/debootstrap.log" 2>&1 || { tail -n 30 "$work/debootstrap.log"; return 1; }
    mkdir -p "$cache"
    tar --numeric-owner -C "$work/pristine" -cf "$pristine.$$" . && mv "$pristine.$$" "$pristine"
    rm -rf --one-file-system "$work/pristine"
    echo "pristine root made in $((SECONDS - t)) s: $pristine"
    t=$SECONDS
  fi
  mkdir "$1"
  tar --numeric-owner -C "$1" -xf "$pristine"
  [ -z "$sources" ] || echo "$sources" >"$1/etc/apt/sources.list"
  cp /etc/resolv.conf "$1/etc/resolv.conf"
  mkdir "$1/root/session_protolib"
  echo "root unpacked in $((SECONDS - t)) s: $1"
}

failures=0
step() {  # NAME COMMAND...: runs and times a step, and lists its result
  local name=$1 t=$SECONDS result=passed
  shift
  echo "=== fresh: $name"
  "$@" || result=FAILED
  echo "=== fresh: $name: $result, $((SECONDS - t)) s"
  echo "fresh:$name $result $((SECONDS - t))" >>"$results"
  [ $result = passed ] || failures=$((failures + 1))
}

echo "=== fresh: a clean Debian 12 root with a clone of $commit"
[ -z "$(GIT_OPTIONAL_LOCKS=0 git status --porcelain -uno)" ] ||
  echo "uncommitted changes here are not part of the clone"
built=$work/built
make_root "$built"
src=$built/root/session_protolib
git clone -q --no-checkout "$PWD" "$src"
git -C "$src" checkout -q --detach "$commit"

step main.sh in_root "$built" scripts/main.sh
echo "=== fresh: scripts/test.sh in the root"
t=$SECONDS
in_root "$built" "${keep[@]}" PROTOLIB_FRESH_ROOT=1 PROTOLIB_RESULTS=/root/stages \
  scripts/test.sh "${inner[@]}" || failures=$((failures + 1))
echo "=== fresh: scripts/test.sh: $((SECONDS - t)) s"
[ ! -f "$built/root/stages" ] || cat "$built/root/stages" >>"$results"

rm -f build/packages/*.deb
if [ -f "$src/scripts/build-debs.sh" ]; then
  step debs in_root "$built" scripts/build-debs.sh /root/debs
  cp "$built"/root/debs/*.deb build/packages/ 2>/dev/null || true
else
  echo "=== fresh: no scripts/build-debs.sh in this commit: no packages"
fi
cp "$src"/build/packages/*.zip build/packages/ 2>/dev/null || true
[ -z "${SUDO_UID:-}" ] || chown -R "$SUDO_UID:${SUDO_GID:-0}" build/packages
ls -l build/packages/* 2>/dev/null || true
t=$SECONDS
rm -rf --one-file-system "$built"
echo "root removed in $((SECONDS - t)) s"

if git cat-file -e "$commit:scripts/check-installed.sh" 2>/dev/null &&
  ls build/packages/*.deb >/dev/null 2>&1; then
  installed=$work/installed
  make_root "$installed"
  git archive "$commit" examples scripts/check-installed.sh | tar -x -C "$installed/root/session_protolib"
  cp build/packages/*.deb "$installed/root/session_protolib/"
  # shellcheck disable=SC2016
  step installed in_root "$installed" sh -ec 'apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
      ./*.deb cmake g++ pkg-config make >/dev/null
    scripts/check-installed.sh'
else
  echo "=== fresh: no scripts/check-installed.sh or no packages: the installed check is skipped"
fi
echo "check-fresh: $failures failed, $((SECONDS - start)) s"
[ $failures -eq 0 ] || exit 1
