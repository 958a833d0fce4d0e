#!/usr/bin/env bash
# Checks the dynamic symbol tables of the two libraries: the public interface
# is exported (classes, default-instance pointers, the field-number constant
# of each field line of the class headers, registration and enumeration
# functions) and nothing internal is. For Windows DLLs the export tables are
# read with $OBJDUMP (the toolchain's); an export there has no kind, so every
# one counts as a strong definition.
# Usage: check_exports.sh LIBSESSION LIBCALIBRATION
set -euo pipefail
exports() {  # LIBRARY: "address kind name" lines, demangled
  case $1 in
    *.dll)
      "${OBJDUMP:-objdump}" -p "$1" |
        awk '/^\[Ordinal\/Name Pointer\] Table/ { on = 1; next }
             on && /^$/ { on = 0 }
             on { print "0 T " $NF }' | c++filt ;;
    *) nm -D --defined-only "$1" | c++filt ;;
  esac
}
session=$(exports "$1")
calibration=$(exports "$2")
[ -n "$session" ] && [ -n "$calibration" ] || { echo "no exports read"; exit 1; }
failures=0

expect() {  # SYMBOLS PATTERN WHAT
  if ! grep -qF -- "$2" <<<"$1"; then
    echo "missing export: $2 ($3)"
    failures=$((failures + 1))
  fi
}
forbid() {  # SYMBOLS REGEX WHAT
  local found
  found=$(grep -E -- "$2" <<<"$1" || true)
  if [ -n "$found" ]; then
    echo "unexpected export ($3):"
    echo "$found" | head -5
    failures=$((failures + 1))
  fi
}

classes="CommandHeader PropertyChanged PropertyChanged_KVPair MultiPropertyChangedData
  MultiPropertyChanged Ping AutoDockingRequest CalibrationRequest PTZMoveCommand
  PTZResetCommand PTZFocusCommand PTZStatus PTZDataRequest PTZMessage CommandAck
  LaserOnCommand LaserPointToCommand LaserStatus LaserMessage CandyMessage CommandVelocity"
for c in $classes; do
  expect "$session" " vtable for $c" "virtual table"
  expect "$session" " $c::default_instance_" "default-instance pointer"
  expect "$session" " $c::default_instance()" "default instance"
  expect "$session" " $c::descriptor()" "descriptor"
  expect "$session" " $c::$c($c const&)" "copy constructor"
  expect "$session" " $c::MergeFrom($c const&)" "typed merge"
  expect "$session" " $c::_InternalParse(" "decoder"
done
for f in protobuf_AddDesc_session_2fcommander_5fprivate_2fcommander_2eproto \
  protobuf_AddDesc_session_2fvelocity_2eproto "LaserState_IsValid(int)" \
  "CandySlot_IsValid(int)" "LaserState_descriptor()" "CandySlot_descriptor()"; do
  expect "$session" " $f" "function"
done
# One constant per field line of the class headers.
fields=$(cd "$(dirname "$0")/.." && cat session/velocity.pb.h session/commander_private/commander.pb.h |
  grep -E '^\s*PROTOLIB_[A-Z0-9_]+\(' | grep -vcE '^\s*PROTOLIB_MESSAGE(_LIST)?\(')
constants=$(grep -cE ' [A-Za-z_]+::k[A-Za-z0-9]+FieldNumber$' <<<"$session" || true)
if [ "$constants" -ne "$fields" ]; then
  echo "expected $fields exported field-number constants, found $constants"
  failures=$((failures + 1))
fi
internal='protolib::|anonymous namespace|Schema<|FileFrame|FileLayout'
forbid "$session" "$internal" "internal to the library"
# Inline members of an imported class may appear as weak copies; strong
# definitions must come from the calibration library alone.
forbid "$session" '^[0-9a-f]+ [^WVu] .*PTZCameraParameters::' \
  "belongs to the calibration library"

expect "$calibration" " vtable for tolva::calibration::PTZCameraParameters" "virtual table"
expect "$calibration" " tolva::calibration::PTZCameraParameters::default_instance_" "pointer"
expect "$calibration" \
  " tolva::calibration::protobuf_AddDesc_calibration_5fcommon_2fcalibration_2eproto()" \
  "registration"
expect "$calibration" " descriptor_table_calibration_5fcommon_2fcalibration_2eproto" \
  "imported by the velocity file's table"
forbid "$calibration" "$internal" "internal to the library"
forbid "$calibration" '^[0-9a-f]+ [^WVu] (CommandVelocity|PTZMessage)' \
  "belongs to the session library"

if [ "$failures" -ne 0 ]; then
  echo "$failures export check(s) failed"
  exit 1
fi
echo "exports: ok"
