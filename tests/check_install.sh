#!/usr/bin/env bash
# Installs the build into a scratch prefix and checks the installed layout,
# then builds a program against it with find_package and with pkg-config.
# Usage: check_install.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
source=$(cd "$2" && pwd)
work="$build/install-check"
rm -rf "$work"
prefix="$work/prefix"
cmake --install "$build" --prefix "$prefix" >/dev/null
libdir=$(find "$prefix" -name libsession_protolib.so -printf '%h\n' | head -1)

for f in include/session/commander_private/commander.pb.h \
         include/session/commander_private/commander.proto \
         include/session/velocity.pb.h include/session/velocity.proto \
         include/calibration_common/calibration.pb.h \
         include/calibration_common/calibration.proto \
         include/protolib/message_decl.h include/protolib/export.h; do
  [ -f "$prefix/$f" ] || { echo "not installed: $f"; exit 1; }
done
for f in libsession_protolib.so libcalibration_protolib.so pkgconfig/session_protolib.pc \
         pkgconfig/calibration_protolib.pc cmake/session_protolib/session_protolibConfig.cmake; do
  [ -e "$libdir/$f" ] || { echo "not installed: lib/$f"; exit 1; }
done
# The tool, where it was built, with its bash completion and manual page.
tool="$build/tools/session_proto/session-proto"
if [ -f "$tool" ]; then
  expected="bin/session-proto share/bash-completion/completions/session-proto"
  [ -f "$tool.1" ] && expected+=" share/man/man1/session-proto.1"
  for f in $expected; do
    [ -f "$prefix/$f" ] || { echo "not installed: $f"; exit 1; }
  done
fi
for lib in session_protolib calibration_protolib; do
  soname=$(readelf -d "$libdir/lib$lib.so" | sed -n 's/.*SONAME.*\[\(.*\)\]/\1/p')
  [ "$soname" = "lib$lib.so.1" ] || { echo "lib$lib.so has SONAME '$soname'"; exit 1; }
done

cmake -S "$source/tests/install" -B "$work/cmake-consumer" -DCMAKE_PREFIX_PATH="$prefix" \
  >/dev/null
cmake --build "$work/cmake-consumer" >/dev/null
LD_LIBRARY_PATH="$libdir" "$work/cmake-consumer/consumer"

export PKG_CONFIG_PATH="$libdir/pkgconfig"
# shellcheck disable=SC2046
c++ -std=c++17 "$source/tests/install/consumer.cc" -o "$work/pc-consumer" \
  $(pkg-config --cflags --libs session_protolib)
LD_LIBRARY_PATH="$libdir" "$work/pc-consumer"
echo "install: ok"
