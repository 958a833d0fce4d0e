#!/usr/bin/env bash
# Compiles every source of the two message libraries for 32-bit Windows
# (i686-w64-mingw32, Debian's mingw-w64 cross compiler, posix-threads
# variant: the runtime's headers need std::thread and std::mutex) against the
# runtime's headers from /usr/include, with the dllexport side of the export
# macros; then compiles a user of the public headers, which sees the
# dllimport side. Compile only (-c), C++17; nothing is linked, as no Windows
# build of the runtime is at hand.
#
# Only the runtime's headers are taken from /usr/include: build/mingw/include
# holds a symlink to /usr/include/google, so that the host's C library
# headers stay out of the Windows build.
#
# Usage: scripts/check-mingw.sh        Exits non-zero if any unit fails.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
start=$SECONDS
protolib_need libprotobuf-dev g++-mingw-w64-i686-posix

cxx=i686-w64-mingw32-g++-posix
out=build/mingw
rm -rf "$out"
mkdir -p "$out/include" "$out/obj"
ln -s /usr/include/google "$out/include/google"

flags=(-std=c++17 -c -I. -isystem "$out/include" -Wall -Wextra -Wno-invalid-offsetof)

# Each library source with the building macro of its library.
units=()
for source in calibration_common/*.cc; do
  units+=("$source:-DCALIBRATION_PROTOLIB_BUILDING")
done
for source in session/*.cc session/commander_private/*.cc protolib/dll_main.cc; do
  units+=("$source:-DSESSION_PROTOLIB_BUILDING")
done

# A user of both libraries: every public header, with dllimport on each
# class, its members, its field-number constants and the free functions.
cat >"$out/user.cc" <<'EOF'
#include "calibration_common/calibration.pb.h"
#include "session/commander_private/commander.pb.h"
#include "session/velocity.pb.h"

int UseTheLibraries() {
  CommandVelocity command;
  command.set_linear(0.5f);
  command.mutable_ptz_message()->mutable_calibration()->set_image_width(640);
  PropertyChanged change;
  change.add_metadata()->set_key("unit");
  const int* number = &CommandVelocity::kPtzMessageFieldNumber;
  const auto& calibration = CommandVelocity::default_instance().ptz_message().calibration();
  return static_cast<int>(command.ByteSizeLong()) + *number +
         static_cast<int>(calibration.image_width()) + (LaserState_IsValid(2) ? 1 : 0) +
         (CandySlot_descriptor() != nullptr ? 1 : 0) + Ping::kIsReplyFieldNumber +
         static_cast<int>(change.metadata_size());
}
EOF
units+=("$out/user.cc:")

echo "=== mingw: $($cxx --version | head -1)"
failed=()
for unit in "${units[@]}"; do
  source=${unit%%:*}
  define=${unit#*:}
  object="$out/obj/$(echo "$source" | tr / _).o"
  log="$out/obj/$(echo "$source" | tr / _).log"
  # shellcheck disable=SC2086  # $define is one flag or none
  if "$cxx" "${flags[@]}" $define -o "$object" "$source" >"$log" 2>&1; then
    echo "ok      $source ${define:-(user, dllimport)}"
    cat "$log"  # warnings, if any
  else
    echo "FAILED  $source ${define:-(user, dllimport)}"
    cat "$log"
    failed+=("$source")
  fi
done

echo "check-mingw: ${#units[@]} units, ${#failed[@]} failed, $((SECONDS - start)) s"
[ ${#failed[@]} -eq 0 ]
