#!/usr/bin/env bash
# Builds the whole project and runs the whole test suite for 32-bit x86
# Linux, in build/i386: the host's GCC with -m32 (g++-multilib) and the i386
# multiarch builds of the runtime and GoogleTest, installed beside the amd64
# ones (Debian multiarch: the i386 and amd64 -dev packages must be of one
# version, which apt enforces for these Multi-Arch: same packages; the
# script checks it too). See cmake/i386-linux.cmake.
#
# Where the kernel does not run 32-bit programs (x86-64 kernels built or
# booted without IA-32 emulation, as on this project's machines), the tests
# run under qemu's user-mode emulator (qemu-i386), which CMake and the tests
# that start child processes are told about.
#
# Usage: scripts/check-i386.sh [extra CMake arguments]
# Exits non-zero if the build or any test fails.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
start=$SECONDS

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  echo "adding the i386 architecture"
  $protolib_sudo dpkg --add-architecture i386
  $protolib_sudo apt-get update -qq
fi
protolib_need "${PROTOLIB_BASE_PACKAGES[@]}" g++-multilib \
  libprotobuf-dev:i386 libprotoc-dev:i386 libgtest-dev:i386

host_arch=$(dpkg --print-architecture)
for p in libprotobuf-dev libprotoc-dev; do
  host=$(dpkg-query -W -f='${Version}' "$p:$host_arch")
  target=$(dpkg-query -W -f='${Version}' "$p:i386")
  if [ "$host" != "$target" ]; then
    echo "$p: $host_arch $host and i386 $target differ; install one version of both" >&2
    exit 1
  fi
done

# Can this kernel run a 32-bit program?
probe_dir=$(mktemp -d)
trap 'rm -rf "$probe_dir"' EXIT
echo 'int main() { return 0; }' >"$probe_dir/probe.cc"
g++ -m32 -o "$probe_dir/probe" "$probe_dir/probe.cc"
emulator_args=()
# install_and_consume (tests/check_install.sh) builds and runs programs for
# the host against the installed tree, with the host's compiler and CMake
# defaults: a check of the host's packaging, which scripts/test.sh runs
# natively. It takes no toolchain, so it is left out here.
excluded='^install_and_consume$'
if "$probe_dir/probe" 2>/dev/null; then
  echo "=== i386: 32-bit programs run natively"
else
  protolib_need qemu-user
  emulator=$(command -v qemu-i386)
  "$emulator" "$probe_dir/probe"
  echo "=== i386: this kernel runs no 32-bit programs; running them under $emulator"
  emulator_args=(-DCMAKE_CROSSCOMPILING_EMULATOR="$emulator")
  export PROTOLIB_TEST_LAUNCHER="$emulator"
  # The session-proto subprocess tests (tests/cli: session_proto.Golden,
  # .RoundTrip, ... and their install fixture) run the installed 32-bit tool
  # as a plain subprocess, which only a kernel that runs 32-bit programs can
  # do. Its in-process tests (session_proto.<Suite>.<Test>) still run.
  excluded="$excluded|^session_proto\.[A-Za-z0-9]+\$"
  echo "left out under the emulator: the session-proto subprocess tests"
fi

cmake -S . -B build/i386 -DCMAKE_TOOLCHAIN_FILE=cmake/i386-linux.cmake \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo "${emulator_args[@]}" "$@" >/dev/null
protolib_build i386 build/i386
readelf -h build/i386/libsession_protolib.so | grep -q 'Machine:.*80386' || {
  echo "check-i386: the library is not a 32-bit x86 object" >&2
  exit 1
}

test_start=$SECONDS
status=0
(cd build/i386 && ctest --output-on-failure -j"$protolib_jobs" -E "$excluded") || status=$?
echo "tests ran in $((SECONDS - test_start)) s"
echo "check-i386: $([ $status -eq 0 ] && echo passed || echo FAILED), $((SECONDS - start)) s"
exit $status
