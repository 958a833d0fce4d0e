#!/usr/bin/env python3
"""Runs the installed session-proto and checks what it says.

Most checks are rows of a table: a bash command line (the tool is on PATH as
session-proto, $G is the golden folder, $SRC the source tree), the expected
standard output, a pattern standard error must match ("" for none at all)
and the exit status. Expected output is a string, golden("file") or
re.compile(...) for a full match. CTest runs one group per test, with:
  SESSION_PROTO             the installed binary, <prefix>/bin/session-proto
  SESSION_PROTO_PREFIX      the install prefix
  SESSION_PROTO_SOURCE_DIR  the source tree (golden files, README.md)
  SESSION_PROTO_WORK_DIR    a scratch directory for this group
  SESSION_PROTO_SANITIZED   1 when built with sanitizers (memory bound skipped)
UPDATE_GOLDEN=1 rewrites the golden files instead of comparing with them.
"""

import os
import re
import shutil
import subprocess
import sys
import unittest

TOOL = os.environ.get("SESSION_PROTO", "session-proto")
PREFIX = os.environ.get("SESSION_PROTO_PREFIX", "")
SOURCE_DIR = os.environ.get("SESSION_PROTO_SOURCE_DIR",
                            os.path.join(os.path.dirname(__file__), "..", ".."))
WORK_DIR = os.environ.get("SESSION_PROTO_WORK_DIR", "/tmp/session-proto-cli-test")
SANITIZED = os.environ.get("SESSION_PROTO_SANITIZED") == "1"
UPDATE = os.environ.get("UPDATE_GOLDEN") == "1"
GOLDEN_DIR = os.path.join(SOURCE_DIR, "tests", "cli", "golden")


class golden(str):
    """Expected output kept in a file of golden/."""


def shell(command, merge_stderr=False):
    """Runs a bash command line in a fresh folder of WORK_DIR."""
    os.makedirs(WORK_DIR, exist_ok=True)
    directory = os.path.join(WORK_DIR, "run")
    shutil.rmtree(directory, ignore_errors=True)
    os.makedirs(directory)
    env = dict(os.environ, G=GOLDEN_DIR, SRC=SOURCE_DIR,
               PATH=os.path.dirname(TOOL) + os.pathsep + os.environ["PATH"])
    if merge_stderr:
        command = "{ %s\n} 2>&1" % command
    # A session of its own, so that a command that hangs is ended with all
    # it started.
    with subprocess.Popen(["bash", "-o", "pipefail", "-c", command], cwd=directory, env=env,
                          stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, start_new_session=True) as process:
        try:
            out, err = process.communicate(timeout=120)
        except subprocess.TimeoutExpired:
            os.killpg(process.pid, 9)
            raise
    return process.returncode, out, err.decode(errors="replace")


D = "session-proto decode CommandVelocity"
E = "session-proto encode CommandVelocity"
SESSION = D + " --delimited --hex $G/session.hex"

GOLDEN = [
    ("session-proto demo", golden("demo.txt"), "", 0),
    ('session-proto demo | grep -cF -e "$(cat $G/drive_command.hex)" -e "$(cat $G/change_set.hex)"',
     "2\n", "", 0),
    ("session-proto types", golden("types.txt"), "", 0),
    ("session-proto schema CommandVelocity", golden("schema_CommandVelocity.txt"), "", 0),
    ("session-proto schema", golden("schema_all.txt"), "", 0),
    ("session-proto schema LaserState", '// LaserState\n// from session/velocity.proto\n'
     'syntax = "proto2";\n\nenum LaserState {\n  OFF = 0;\n  ON = 1;\n  UNCHANGED = 2;\n}\n', "", 0),
    (D + " --hex $G/drive_command.hex", golden("drive_command.txt"), "", 0),
    (D + " --hex --json $G/drive_command.hex", golden("drive_command.json"), "", 0),
    (D + " --hex --annotate $G/drive_command.hex", golden("drive_command.annotated"), "", 0),
    ("session-proto decode MultiPropertyChanged --hex $G/change_set.hex", golden("change_set.txt"),
     "", 0),
    ("session-proto decode MultiPropertyChanged --hex --json $G/change_set.hex",
     golden("change_set.json"), "", 0),
    ("session-proto decode MultiPropertyChanged --hex --annotate $G/change_set.hex",
     golden("change_set.annotated"), "", 0),
    (D + " --hex --annotate $G/oddities.hex", golden("oddities.annotated"), "", 0),
    (SESSION, golden("session.delimited.txt"), "", 0),
    (SESSION + " --annotate", golden("session.delimited.annotated"), "", 0),
    # No type: the fields of any bytes, length-delimited ones as messages
    # where they read as such.
    ("session-proto decode --raw --hex $G/change_set.hex", golden("change_set.raw"), "", 0),
]

ROUND_TRIP = [
    (E + " --hex $G/drive_command.txt | cmp - $G/drive_command.hex && "
     "session-proto encode MultiPropertyChanged --hex < $G/change_set.txt | cmp - $G/change_set.hex"
     " && echo same", "same\n", "", 0),
    # Every byte form, from text and from JSON, decodes back.
    ("for form in '' --hex --base64; do for src in txt json; do "
     "session-proto encode CommandVelocity $form $([ $src = json ] && echo --json) "
     "$G/drive_command.$src | session-proto decode CommandVelocity $form - | "
     "cmp - $G/drive_command.txt && echo ok; done; done", "ok\n" * 6, "", 0),
    (E + " --base64 $G/drive_command.txt | base64 -d | xxd -p -c 1000 | cmp - $G/drive_command.hex"
     " && echo ok", "ok\n", "", 0),
    # Streams: decode's output in each form encodes back to the same bytes.
    ("for form in '' --json; do " + SESSION + " $form | " + E +
     " --delimited --hex $form | cmp - $G/session.hex && echo ok; done; " + SESSION +
     " --json-lines | " + E + " --json-lines --delimited --hex | cmp - $G/session.hex && echo ok",
     "ok\n" * 3, "", 0),
    # A trailing separator adds no message; decode's header keeps an empty one.
    ("printf 'linear: 1\\n---\\nangular: 2\\n---\\n# end\\n' | " + E + " --delimited --hex; "
     "printf '00050d0000803f' | xxd -r -p | " + D + " --delimited | " + E + " --delimited --hex",
     "050d0000803f051500000040\n00050d0000803f\n", "", 0),
    ("echo 'change { properties { metadata { key: \"unit\" } } }' | "
     "session-proto encode MultiPropertyChanged --partial | session-proto decode MultiPropertyChanged"
     " --partial --json | session-proto encode MultiPropertyChanged --partial --json --hex",
     "0a0a0a082a060a04756e6974\n", "", 0),
    ("for t in $(session-proto types | awk '/^  / { print $1 }'); do "
     "session-proto encode $t --partial </dev/null | wc -c; "
     "session-proto decode $t --partial --json </dev/null; done | sort | uniq -c",
     "     22 0\n     22 {}\n", "", 0),
    # Unknown fields of every wire type and undeclared enumeration numbers
    # (singular, repeated, packed) give the classes' own bytes back in every
    # form, single and delimited.
    ("for form in '' --json; do " + D + " --hex $form $G/oddities.hex | " + E + " --hex $form; "
     "done; printf '\\x72\\x04\\x10\\x01\\x10\\x09' | " + D + " --json | " + E + " --json --hex",
     "0d0000003f6204080308046a0e1a0c0d0000803f0d00000040180772041001100578070805a3010809a401"
     "810101000000000000008a0103616263\n" * 2 + "720410011009\n", "", 0),
    ("{ xxd -r -p $G/oddities.hex | " + D + "; printf -- '--- message 2\\n--- message 3\\nangular: 2'; } "
     "| " + E + " --delimited > s.bin; for form in '' --json --json-lines; do " + D +
     " --delimited $form s.bin | " + E + " --delimited $form | cmp - s.bin && echo ok; done",
     "ok\n" * 3, "", 0),
    # Strict JSON leaves the unknown fields out, and says so; a NaN's payload
    # does not survive text or JSON, and that is said too.
    ("printf '\\x72\\x04\\x10\\x01\\x10\\x09' | " + D + " --json-lines --strict-json; "
     "printf '\\x0d\\x01\\x00\\xc0\\xff' | " + D,
     '{"candy_message":{"active_slots":["BIN1"]}}\nlinear: nan\n',
     "<stdin>: candy_message: strict JSON leaves out the unknown fields 1009\n"
     ".*<stdin>: linear: text format cannot carry the sign and payload of the NaN 0xffc00001; it "
     "reads back as 0x7fc00000", 0),
    # Text format carries any bytes in a string; JSON refuses them.
    ("printf 'camera_serial: \"\\xff\\xc3\"' | session-proto encode PTZCameraParameters --hex",
     "5a02ffc3\n", "", 0),
    # Negative zero keeps its sign through JSON, written -0 or -0.0.
    ("echo 'angular: -0' | " + E + " --hex | " + D + " --hex --json | " + E + " --json --hex; "
     "echo '{\"linear\": -0.0, \"laserMessage\": {\"pointTo\": {\"rayOrigin\": [-0, 0]}}}' | "
     + E + " --json --hex",
     "1500000080\n0d000000806a0c1a0a0d000000800d00000000\n", "", 0),
]

BAD_INPUT = [
    ("echo 0d0000003f38808080 | " + D + " --hex", "",
     r"^session-proto: <stdin>: byte 6: truncated varint in send_timestamp_ns \(field 7\)\n$", 1),
    ("echo 5a05120308 | " + D + " --hex --json", "",
     r"<stdin>: byte 1: length 5 runs past the end \(3 bytes left\) in ptz_message \(field 11\)", 1),
    ("echo 0d0000003f0f | " + D + " --hex", "", r"byte 5: invalid wire type 7 \(field 1\)", 1),
    ("printf '0b%.0s' {1..101} | " + D + " --hex", "",
     r"byte 100: nesting too deep \(more than 100 levels\)", 1),
    ("echo 0d0000 | " + D + " --hex", "",
     r"byte 1: truncated 32-bit value \(2 bytes left\) in linear \(field 1\)", 1),
    ("echo 0c | " + D + " --hex", "", "byte 0: end-group tag without a start-group tag", 1),
    ("echo 0d0000 | session-proto decode --raw --hex | tail -1", "0 fields before the fault\n",
     r"^session-proto: <stdin>: byte 1: truncated 32-bit value \(2 bytes left\) in unknown "
     r"field 1\n$", 1),
    # The dump of bytes that do not decode goes as far as they do.
    ("echo 0d0000003f5a0412020880 | " + D + " --hex --annotate", golden("fault.annotated"),
     r"<stdin>: byte 10: truncated varint in ptz_message.move.pan_target", 1),
    ("echo 0a070a052a030a0161 | session-proto decode MultiPropertyChanged --hex", "",
     r"missing required field change.properties\[0\].metadata\[0\].value \(--partial accepts", 1),
    ("echo 0a070a052a030a0161 | session-proto decode MultiPropertyChanged --hex --partial "
     "--annotate | tail -1", "missing required field change.properties[0].metadata[0].value\n",
     "", 0),
    ("echo 'change { properties { metadata { key: \"a\" } } }' | "
     "session-proto encode MultiPropertyChanged", "",
     r"<stdin>:1: missing required field change.properties\[0\]", 1),
    ("echo '{\"change\": {\"properties\": [{\"metadata\": [{\"key\": \"a\"}]}]}}' | "
     "session-proto encode MultiPropertyChanged --json", "",
     r"missing required field change.properties\[0\].metadata\[0\].value", 1),
    ("printf 'linear: 0.5\\nangular: x\\n' | " + E, "", "<stdin>:2:10: Expected double, got: x", 1),
    ("printf 'linear: 0.5\\nlinaer: 1\\n' | " + E, "",
     '<stdin>:2:7: Message type "CommandVelocity" has no field named "linaer".', 1),
    ("printf '{\\n  \"linear\": 0.5,\\n  \"angular\": \\n}' | " + E + " --json", "",
     "<stdin>:4:1: angular: expected a value", 1),
    # Errors lie inside the input: at the end of a text that stops short, at
    # the bad byte or escape of a string.
    ("printf '{\"linear\":1}\\n{\"linear\":2' | " + E + " --json-lines --delimited --hex",
     "050d0000803f\n", "<stdin>:2:12: message 2: expected ',' or '}' after a field\n"
     ".*the 1 message before it was written", 1),
    ("echo '{\"linear\": 0.5' | " + E + " --json; echo 'linear: ' | " + E, "",
     "<stdin>:1:15: expected ',' or '}' after a field\n.*<stdin>:1:8: Expected double", 1),
    ("printf '{\"camera_serial\": \"a\\xffb\"}' | session-proto encode PTZCameraParameters --json; "
     "echo '{\"camera_serial\": \"\\ud800\"}' | session-proto encode PTZCameraParameters --json", "",
     r"<stdin>:1:21: camera_serial: invalid UTF-8 in a string\n"
     r".*<stdin>:1:20: camera_serial: high surrogate without a low one", 1),
    ("printf '{\\n  \"ptz_message\": {\"move\": {\"pan_target\": 1.5}}\\n}' | " + E + " --json",
     "", "<stdin>:2:42: ptz_message.move.pan_target: invalid value 1.5 for type TYPE_INT32", 1),
    ("printf '{\\n  \"ptzMessage\": {\\n    \"mvoe\": {}\\n  }\\n}' | " + E + " --json", "",
     r"<stdin>:3:5: ptz_message.mvoe: Cannot find field\.", 1),
    # Undeclared enumeration numbers as values: refused in JSON as in text
    # format (decode prints them among the unknown fields).
    ("echo '{\"laserMessage\": {\"pointTo\": {\"stateWhileMoving\": \"FOO\"}}}' | " + E + " --json",
     "", '<stdin>:1:51: laser_message.point_to.state_while_moving: invalid value "FOO" for type '
     'LaserState', 1),
    ("echo '{\"laserMessage\": {\"pointTo\": {\"stateWhileMoving\": 7}}}' | " + E + " --json", "",
     "<stdin>:1:51: laser_message.point_to.state_while_moving: invalid value 7 for type LaserState",
     1),
    ("echo 'laser_message { point_to { state_while_moving: 7 } }' | " + E, "",
     "Unknown enumeration value of \"7\"", 1),
    # A failed message of a stream is named; those before it are written.
    ("printf 'linear: 1\\n---\\nlinear: 2\\n---\\nlinear: q\\n' | " + E + " --delimited --hex",
     "050d0000803f050d00000040\n", "<stdin>:5:9: message 3: Expected double, got: q\n"
     ".*the 2 messages before it were written", 1),
    ("echo '08 0z' | session-proto decode Ping --hex", "",
     "<stdin>: invalid hex digit 'z' at text offset 4", 1),
    ("echo 080 | session-proto decode Ping --hex", "", "odd number of hex digits", 1),
    ("echo 'CAE*' | session-proto decode Ping --base64", "",
     "invalid base64 character '[*]' at text offset 3", 1),
    # Lines of hex: one message only when wrapped.
    ("printf '0d0000803f\\n0d00000040\\n' | " + D + " --hex", "",
     "<stdin>: line 2 starts another message.*--lines", 1),
    (E + " --hex $G/drive_command.txt | fold -w 32 | " + D + " --hex | cmp - $G/drive_command.txt"
     " && echo ok", "ok\n", "", 0),
    # A bad message stops a stream after the good ones.
    ("echo 050d0000803f070d0000 | " + D + " --delimited --hex",
     "--- message 1: 5 bytes at offset 1\nlinear: 1\n",
     "<stdin>: message 2: byte 6: message length 7 runs past the end", 1),
    ("echo 050d0000803f80 | " + D + " --delimited --hex",
     "--- message 1: 5 bytes at offset 1\nlinear: 1\n",
     "<stdin>: message 2: byte 6: truncated length prefix", 1),
    ("echo 050d0000803f0208ff | " + D + " --delimited --hex",
     "--- message 1: 5 bytes at offset 1\nlinear: 1\n",
     "<stdin>: message 2: byte 8: truncated varint in unknown field 1", 1),
    ("session-proto decode Ping no-such-file; session-proto encode Ping no-such-file", "",
     "cannot open no-such-file.*\n.*cannot open no-such-file", 1),
    # JSON cannot carry a string that is not UTF-8; text format escapes it.
    ("echo 5a04c3a9ff41 | session-proto decode PTZCameraParameters --hex --json", "",
     r"<stdin>: byte 4: invalid UTF-8 in camera_serial \(field 11\)", 1),
    ("echo 5a02ffff | session-proto decode PTZCameraParameters --hex --json-lines", "",
     r"<stdin>: byte 2: invalid UTF-8 in camera_serial", 1),
    ("for b in 5a03e080af 5a03eda080 5a04f4908080 5a04f09f9880; do echo $b | "
     "session-proto decode PTZCameraParameters --hex --json-lines; done", '{"camera_serial":"\U0001f600"}\n',
     "(byte 2: invalid UTF-8 in camera_serial.*){3}", 0),
    ("echo 5a04c3a9ff41 | session-proto decode PTZCameraParameters --hex",
     'camera_serial: "\\303\\251\\377A"\n', "", 0),
    # A failed write is a failure.
    (D + " --hex $G/drive_command.hex > /dev/full", "",
     "cannot write to standard output: No space left on device", 1),
    (E + " --delimited $G/drive_command.txt > /dev/full", "", "cannot write to standard output", 1),
    (E + " $G/drive_command.txt >&-", "", "cannot write to standard output: Bad file descriptor", 1),
]

CAPTURE = [
    (SESSION + " --json-lines",
     '{"linear":0.5,"angular":-0.25,"send_timestamp_ns":"1700000000000000000","ptz_message":'
     '{"move":{"pan_target":1200,"tilt_target":-300}}}\n{}\n'
     '{"linear":-1,"command_ack":{"message_ids":[7,8]},"laser_message":'
     '{"point_to":{"ray_origin":[0.5,0,1.25],"state_while_moving":"ON"}}}\n', "", 0),
    (SESSION + " --json-lines --skip 1 --limit 1", "{}\n", "", 0),
    (SESSION + " --where ptz_message.move.pan_target=1200 --where linear=0.5 --json-lines "
     "| cut -c1-14", '{"linear":0.5,\n', "", 0),
    (SESSION + " --where laser_message.point_to.ray_origin=1.25 --where command_ack "
     "--limit 5 | tail -1", "# 1 message of 3 read\n", "", 0),
    (SESSION + " --where laser_message.point_to.state_while_moving=OFF",
     "# 0 messages of 3 read\n", "", 0),
    ("session-proto decode MultiPropertyChanged --hex --lines --where "
     "change.properties.path=/camera/enabled --json-lines $G/change_set.hex | wc -l", "1\n", "", 0),
    # --keep-going past a damaged length prefix (one that runs past the end,
    # one that leads to no message): on from where a run of messages parses.
    ("printf '\\x05\\x0d\\x00\\x00\\x80\\x3f\\x40\\x0d\\x00\\x00\\x05\\x15\\x00\\x00\\x00\\x40' > d.bin; "
     "printf '\\x03\\x0d\\x00\\x00\\x80\\x3f\\x05\\x15\\x00\\x00\\x00\\x40' > e.bin; "
     "for f in d.bin e.bin; do " + D + " --delimited --keep-going --json-lines $f; echo $?; done",
     '{"linear":1}\n{"angular":2}\n1\n{"angular":2}\n1\n',
     r"d.bin: message 2: byte 6: damaged length prefix; bytes 6 to 9 skipped \(4 bytes lost\)\n"
     r".*1 damaged stretch of the stream skipped\n.*e.bin: message 1: byte 0: message length 3 "
     r"leads to no message; bytes 0 to 5 skipped \(6 bytes lost\)", 0),
    # --follow waits at the end of a growing file, for a message cut short
    # too; output to a pipe goes out message by message.
    (": > f.bin; : > out.txt; " + D + " --delimited --follow --json-lines f.bin > >(cat > out.txt) "
     "& p=$!; w() { for i in $(seq 100); do [ $(wc -l < out.txt) -ge $1 ] && break; sleep 0.1; "
     "done; }; printf '\\x05\\x0d\\x00\\x00\\x80' >> f.bin; sleep 1; cat out.txt; echo -; "
     "printf '\\x3f\\x05\\x15\\x00\\x00' >> f.bin; w 1; cat out.txt; echo -; "
     "printf '\\x00\\x40' >> f.bin; w 2; cat out.txt; kill $p",
     '-\n{"linear":1}\n-\n{"linear":1}\n{"angular":2}\n', "", 0),
    # stats takes the messages decode would print.
    ("session-proto stats CommandVelocity --delimited --hex $G/session.hex --skip 1 --where linear "
     "--json; echo 0a070a052a030a0161 | session-proto stats MultiPropertyChanged --hex --lines; "
     "echo 0a070a052a030a0161 | session-proto stats MultiPropertyChanged --hex --lines --partial "
     "--limit 0 | head -1",
     '{"type":"CommandVelocity","messages":1,"read":3,"size":{"min":32,"median":32,"max":32,'
     '"total":32},"fields":[{"path":"linear","count":1,"bytes":5,"share":15.6},{"path":'
     '"command_ack","count":1,"bytes":6,"share":18.8},{"path":"command_ack.message_ids","count":'
     '2,"bytes":4,"share":12.5},{"path":"laser_message","count":1,"bytes":21,"share":65.6},'
     '{"path":"laser_message.point_to","count":1,"bytes":19,"share":59.4},{"path":'
     '"laser_message.point_to.ray_origin","count":3,"bytes":15,"share":46.9},{"path":'
     '"laser_message.point_to.state_while_moving","count":1,"bytes":2,"share":6.2}]}\n'
     "0 messages of MultiPropertyChanged, selected from 0 read\n",
     r"^session-proto: <stdin>: line 1: missing required field change.properties\[0\]"
     r".metadata\[0\].value \(--partial", 0),
    # Columns: chosen fields as CSV or TSV rows, repeated ones in one cell.
    (SESSION + " --csv --fields @index,@offset,linear,send_timestamp_ns,"
     "laser_message.point_to.ray_origin,laser_message.point_to.state_while_moving; "
     "for f in csv tsv; do echo 'change { properties { path: \"a,\\\"b\\\"\\t\" } "
     "properties { path: \"c\" } }' | session-proto encode MultiPropertyChanged | "
     "session-proto decode MultiPropertyChanged --fields change.properties.path --$f | tail -1; done",
     "@index,@offset,linear,send_timestamp_ns,laser_message.point_to.ray_origin,"
     "laser_message.point_to.state_while_moving\n1,1,0.5,1700000000000000000,,\n2,40,,,,\n"
     "3,41,-1,,0.5;0;1.25,ON\n\"a,\"\"b\"\"\t;c\"\na,\"b\"\\t;c\n", "", 0),
    # One message per line; errors name the line; --keep-going skips them.
    ("printf '0d0000803f\\n\\n0d0000z040\\n0d00000040\\n' | " + D + " --hex --lines",
     "--- message 1: 5 bytes on line 1\nlinear: 1\n--- message 2: 0 bytes on line 2\n",
     "^session-proto: <stdin>: line 3: invalid hex digit 'z' at text offset 6\n$", 1),
    ("printf '0d0000803f\\n\\n0d0000z040\\n0d00000040\\n' | " + D + " --hex --lines --keep-going "
     "--json-lines", '{"linear":1}\n{}\n{"linear":2}\n',
     r"line 3: invalid hex digit 'z' at text offset 6 \(skipped\)\n.*1 of 4 messages skipped", 1),
    ("echo 050d0000803f0208ff050d00000040 | " + D + " --delimited --hex --keep-going | tail -1",
     "# 2 messages\n", r"message 2: byte 8: truncated varint in unknown field 1 \(skipped\)", 1),
    (SESSION + " --json-lines | " + E + " --json-lines --lines --base64 | " + D +
     " --lines --base64 --json-lines | cmp - <(" + SESSION + " --json-lines) && echo ok",
     "ok\n", "", 0),
    # The bash completion script completes commands, options and types.
    # (readline splits words at '=': "--limit = 2" is how it hands over --limit=2)
    ("touch sample.bin; source $SRC/tools/session_proto/completion.bash; for line in 'st' "
     "'decode Comm' 'decode X --js' 'schema --d' 'decode --limit = 2 Comm' "
     "'decode --where linear = 0.5 X sa'; do COMP_WORDS=(session-proto $line); "
     "COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); _session_proto; echo \"${COMPREPLY[*]}\"; done",
     "stats\nCommandHeader CommandAck CommandVelocity\n--json --json-lines\n--descriptor-set\n"
     "CommandHeader CommandAck CommandVelocity\nsample.bin\n", "", 0),
    # --where compares numbers (decimal integers; floats as the field holds
    # them; nan matches any NaN) and finds regular expressions in strings;
    # --exit-status says whether anything matched, as grep does.
    ("for w in ptz_message.move.pan_target=1200 ptz_message.move.pan_target=01200 'linear!=0.5' "
     "'linear<0' 'linear<=0.5' 'linear>0.5' 'linear>=-1' 'send_timestamp_ns>1699999999999999999' "
     "'send_timestamp_ns<1700000000000000000' 'laser_message.point_to.ray_origin<0.1' "
     "'laser_message.point_to.state_while_moving!=OFF' 'command_ack.message_ids>=8'; do "
     + SESSION + " --json-lines --where \"$w\" | wc -l; done | xargs",
     "1 1 1 1 2 0 2 1 0 1 1 1\n", "", 0),
    ("printf 'linear: nan\\n---\\nlinear: 0.1\\n---\\nlinear: 1\\n' | " + E + " --delimited > n.bin; "
     "for w in linear=nan 'linear!=nan' 'linear<2' linear=0.1 linear=1e0; do " + D +
     " --delimited --json-lines --where \"$w\" n.bin | wc -l; done | xargs; "
     "session-proto decode MultiPropertyChanged --hex --lines --json-lines "
     "--where 'change.properties.path~^/cam' $G/change_set.hex | wc -l",
     "1 2 2 1 1\n1\n", "", 0),
    (SESSION + " --where linear=5 --exit-status; echo $?; " + SESSION +
     " --where linear=0.5 --exit-status --json-lines >/dev/null; echo $?; echo 050d0000803f80 | " +
     D + " --delimited --hex --exit-status --json-lines; echo $?",
     "# 0 messages of 3 read\n1\n0\n{\"linear\":1}\n2\n", "truncated length prefix", 0),
]

USAGE = [
    ("session-proto", "", "^Usage: session-proto", 2),
    ("session-proto frobnicate", "", "unknown command 'frobnicate'\nTry 'session-proto --help'", 2),
    ("session-proto decode", "", "TYPE is required", 2),
    ("session-proto decode CommandVelcity", "",
     "unknown message type 'CommandVelcity'; did you mean CommandVelocity", 2),
    ("session-proto decode Ping --frob", "",
     "not expected: --frob\nTry 'session-proto decode --help'", 2),
    ("session-proto encode Ping --annotate", "", "not expected: --annotate", 2),
    ("session-proto decode Ping --hex --base64", "", "--hex excludes --base64", 2),
    ("session-proto decode Ping --json --annotate", "", "--json excludes --annotate", 2),
    ("session-proto decode Ping a b", "", "not expected: b", 2),
    ("session-proto types extra", "", "not expected: extra", 2),
    ("session-proto help frobnicate", "", "unknown command 'frobnicate'", 2),
    ("session-proto decode Ping --lines", "", "--lines needs --hex or --base64", 2),
    ("session-proto decode Ping --limit 2", "", "add --delimited or --lines", 2),
    ("session-proto decode Ping --delimited --skip -1", "", "'-1' is not a number of messages", 2),
    (D + " --delimited --where ptz_message.mvoe=1", "", "PTZMessage has no field 'mvoe'", 2),
    (D + " --delimited --where ptz_message.move.pan_target=x", "",
     "'x' is not a value of int32 field pan_target", 2),
    (D + " --delimited --where ptz_message=1", "", "ptz_message is a message", 2),
    # Integers are decimal digits; operators fit the field's kind.
    ("for v in 0x0a ' 10' +10 1e1; do " + D + " --delimited --where \"ptz_message.move.pan_target=$v\" || true;"
     " done 2>&1 | grep -c 'is not a value of int32 field pan_target (decimal digits)'", "4\n", "", 0),
    (D + " --delimited --where 'linear~1'", "", "~ does not apply to float field linear", 2),
    (D + " --delimited --where 'laser_message.point_to.state_while_moving<ON'", "",
     "< does not apply to LaserState field state_while_moving", 2),
    ("session-proto decode MultiPropertyChanged --delimited --where 'change.properties.path~('", "",
     "not a regular expression", 2),
    (D + " --delimited --where 'linear!'", "", "expected = != < <= > >= or ~ after the path", 2),
    (D + " --fields linear; " + D + " --csv --fields ptz_message.move", "",
     "--fields goes with --csv or --tsv\n.*--fields: ptz_message.move is a message", 2),
    ("session-proto encode Ping --json-lines", "", "add --delimited or --lines", 2),
    ("for n in PropertyChanged.KVPair PropertyChanged_KVPair KVPair .PropertyChanged.KVPair "
     "tolva.calibration.PTZCameraParameters PTZCameraParameters "
     "tolva::calibration::PTZCameraParameters calibration.PTZCameraParameters; do "
     "session-proto schema $n | grep -c -e 'message KVPair {' -e 'package tolva.calibration;'; done",
     "1\n" * 8, "", 0),
    ("session-proto --help | sed -n '/^Commands:/,/^$/p' | awk 'NR > 1 { print $1 }' | xargs; "
     "session-proto --help | grep -c -- --version; "
     "for c in types schema decode encode stats demo help; do "
     "session-proto help $c | cmp - <(session-proto $c --help) && echo ok; done",
     "types schema decode encode stats demo help\n1\n" + "ok\n" * 7, "", 0),
    # Slips get a suggestion; a name that begins several types lists them.
    ("session-proto decod; session-proto decode Ping --jsn; session-proto decode Command", "",
     r"unknown command 'decod'; did you mean decode\?.*--jsn; did you mean --json\?.*did you "
     r"mean CommandHeader, CommandAck or CommandVelocity\?", 2),
    # Each command's help tells only what it takes, and its exit statuses.
    ("session-proto types --help | grep -c TYPE; session-proto decode --help | grep -c "
     "'With --exit-status'", "0\n1\n", "", 0),
    # Binary output to a terminal is refused (script gives the tool one).
    # (not under an emulator, which gives no terminal: the count is given)
    ("[ $SESSION_PROTO_EMULATED = 1 ] && echo 2 || script -qc 'session-proto encode Ping </dev/null; "
     "session-proto schema --descriptor-set' /dev/null | grep -c 'binary output to a terminal'",
     "2\n", "", 0),
    ("session-proto --version", re.compile(r"session-proto \d+\.\d+\.\d+ \(libprotobuf 3\.21\.\d+\)\n"),
     "", 0),
]


class TableTestCase(unittest.TestCase):
    def check_rows(self, rows):
        for command, stdout, stderr, code in rows:
            with self.subTest(command=command):
                status, out, err = shell(command)
                self.assertEqual(status, code, f"{command}\n{err}")
                if stderr == "":
                    self.assertEqual(err, "", command)
                else:
                    self.assertRegex(err, re.compile(stderr, re.S))
                if isinstance(stdout, golden):
                    path = os.path.join(GOLDEN_DIR, stdout)
                    if UPDATE:
                        with open(path, "wb") as f:
                            f.write(out)
                        continue
                    with open(path, "rb") as f:
                        stdout = f.read().decode()
                if isinstance(stdout, re.Pattern):
                    self.assertRegex(out.decode(), stdout)
                else:
                    self.assertEqual(out.decode(errors="replace"), stdout, command)


# One test class per table, named as CTest runs it.
for _name, _rows in {"Golden": GOLDEN, "RoundTrip": ROUND_TRIP, "BadInput": BAD_INPUT,
                     "Capture": CAPTURE, "Usage": USAGE}.items():
    globals()[_name] = type(_name, (TableTestCase,),
                            {"test_rows": lambda self, rows=_rows: self.check_rows(rows)})


class Stream(unittest.TestCase):
    """A long recorded session goes through a message at a time: a run over
    100,000 messages peaks at the memory of a run over the first 20."""

    def peak_kib(self, args, source, target):
        """Runs the tool from file to file; returns its peak resident memory."""
        with open(source, "rb") as stdin, open(target, "wb") as stdout:
            process = subprocess.Popen([TOOL, *args], stdin=stdin, stdout=stdout,
                                       stderr=subprocess.PIPE)
            err = process.stderr.read()
            _, status, usage = os.wait4(process.pid, 0)
            process.returncode = os.waitstatus_to_exitcode(status)
            process.stderr.close()
        self.assertEqual((process.returncode, err), (0, b""), args)
        return usage.ru_maxrss

    def test_100000_messages_in_bounded_memory(self):
        os.makedirs(WORK_DIR, exist_ok=True)
        runs = [(["encode", "MultiPropertyChanged", "--delimited"], "txt", "bin"),
                (["decode", "MultiPropertyChanged", "--delimited"], "bin", "out"),
                (["decode", "MultiPropertyChanged", "--delimited", "--json-lines"], "bin", "out")]
        peaks = {}
        for count in (20, 100_000):
            path = lambda kind: os.path.join(WORK_DIR, f"session-{count}.{kind}")
            with open(path("txt"), "w") as f:
                for i in range(count):
                    f.write(f"--- message {i + 1}\n"
                            f"change {{ change_set_id: {i} properties {{ "
                            f'path: "/robot/sensors/{i:06d}/temperature/reading/celsius" '
                            f'value: "{i:032d}" last_change_time: {1700000000000 + i} }} }}\n')
            peaks[count] = [self.peak_kib(args, path(a), path(b)) for args, a, b in runs]
        stream_size = os.path.getsize(path("bin"))
        self.assertGreater(stream_size, 10_000_000)
        with open(path("out"), "rb") as f:
            f.seek(-200, os.SEEK_END)
            self.assertTrue(f.read().endswith(b'"change_set_id":99999}}\n'))
        print(f"\npeak KiB, 20 and 100000 messages: {peaks}", file=sys.stderr)
        if SANITIZED:
            self.skipTest("memory bound not checked under sanitizers")
        # Holding the stream, its messages or their text would add at least
        # the stream's 10 MB to what the first few messages take.
        for baseline, peak in zip(peaks[20], peaks[100_000]):
            self.assertLess(peak, baseline + stream_size // 1024 // 2)


class Readme(unittest.TestCase):
    """The README's usage section shows real commands with their real output."""

    def test_examples_give_the_output_shown(self):
        with open(os.path.join(SOURCE_DIR, "README.md")) as f:
            section = f.read().split("<!-- cli:begin -->")[1].split("<!-- cli:end -->")[0]
        examples = []
        for block in re.findall(r"```console\n(.*?)```", section, re.S):
            for chunk in re.split(r"^\$ ", block, flags=re.M)[1:]:
                command, _, output = chunk.partition("\n")
                examples.append((command, output))
        self.assertGreaterEqual(len(examples), 10)
        # Examples run in order in one folder: later ones read earlier files.
        directory = os.path.join(WORK_DIR, "readme")
        shutil.rmtree(directory, ignore_errors=True)
        os.makedirs(directory)
        script = "".join(f"cd {directory}\n{c}\necho '@@@'\n" for c, _ in examples)
        _, out, _ = shell(script, merge_stderr=True)
        outputs = out.decode().split("@@@\n")
        for (command, expected), actual in zip(examples, outputs):
            with self.subTest(command=command):
                self.assertEqual(actual, expected, command)


class InstalledLayout(unittest.TestCase):
    """The installed binary finds the installed libraries, not the build's;
    the completion script lies where bash-completion looks."""

    def test_installed_layout(self):
        self.assertTrue(TOOL.startswith(PREFIX + os.sep), TOOL)
        self.assertTrue(os.path.isfile(os.path.join(
            PREFIX, "share", "bash-completion", "completions", "session-proto")))
        env = {k: v for k, v in os.environ.items() if k != "LD_LIBRARY_PATH"}
        done = subprocess.run(["ldd", TOOL], capture_output=True, env=env, text=True)
        if done.returncode != 0:
            self.skipTest("ldd is not available")
        for library in ("libsession_protolib.so", "libcalibration_protolib.so"):
            line = next((l for l in done.stdout.splitlines() if library in l), "")
            path = os.path.realpath(line.split("=>")[-1].split("(")[0].strip()) if line else ""
            self.assertTrue(path.startswith(os.path.realpath(PREFIX) + os.sep),
                            f"{library} resolves to '{path}'")


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0], *sys.argv[1:]], verbosity=2)
