#!/usr/bin/env python3
"""Runs the installed session-proto as a subprocess and checks what it says.

CTest runs one group (a TestCase class) per test, with the environment:
  SESSION_PROTO             the installed binary, <prefix>/bin/session-proto
  SESSION_PROTO_PREFIX      the install prefix
  SESSION_PROTO_SOURCE_DIR  the source tree (golden files, README.md)
  SESSION_PROTO_WORK_DIR    a scratch directory for this group
  SESSION_PROTO_SANITIZED   1 when built with sanitizers (memory bound skipped)
UPDATE_GOLDEN=1 rewrites the golden files instead of comparing with them.
"""

import base64
import os
import re
import shutil
import subprocess
import sys
import time
import unittest

TOOL = os.environ.get("SESSION_PROTO", "session-proto")
PREFIX = os.environ.get("SESSION_PROTO_PREFIX", "")
SOURCE_DIR = os.environ.get("SESSION_PROTO_SOURCE_DIR",
                            os.path.join(os.path.dirname(__file__), "..", ".."))
WORK_DIR = os.environ.get("SESSION_PROTO_WORK_DIR", "/tmp/session-proto-cli-test")
SANITIZED = os.environ.get("SESSION_PROTO_SANITIZED") == "1"
UPDATE = os.environ.get("UPDATE_GOLDEN") == "1"
GOLDEN_DIR = os.path.join(SOURCE_DIR, "tests", "cli", "golden")

EXIT_OK, EXIT_BAD_INPUT, EXIT_USAGE = 0, 1, 2


class Run:
    """One finished run of the tool."""

    def __init__(self, code, out, err):
        self.code, self.out, self.err = code, out, err

    @property
    def text(self):
        return self.out.decode()


def run(*args, stdin=b""):
    if isinstance(stdin, str):
        stdin = stdin.encode()
    done = subprocess.run([TOOL, *args], input=stdin, capture_output=True, timeout=120)
    return Run(done.returncode, done.stdout, done.stderr.decode())


def golden_path(name):
    return os.path.join(GOLDEN_DIR, name)


def read_golden(name):
    with open(golden_path(name), "rb") as f:
        return f.read()


class ToolTestCase(unittest.TestCase):
    def setUp(self):
        os.makedirs(WORK_DIR, exist_ok=True)

    def ok(self, *args, stdin=b""):
        """Runs the tool, which must succeed quietly."""
        result = run(*args, stdin=stdin)
        self.assertEqual(result.code, EXIT_OK, f"{args}: {result.err}")
        self.assertEqual(result.err, "", args)
        return result.out

    def fails(self, code, args, stdin=b"", says=()):
        """Runs the tool, which must fail with `code`, print nothing to
        standard output and say each of `says` on standard error."""
        result = run(*args, stdin=stdin)
        self.assertEqual(result.code, code, f"{args}: {result.err}")
        self.assertEqual(result.out, b"", args)
        for words in ([says] if isinstance(says, str) else says):
            self.assertIn(words, result.err, args)
        return result.err

    def assertGolden(self, name, actual):
        if UPDATE:
            with open(golden_path(name), "wb") as f:
                f.write(actual)
            return
        self.assertEqual(actual.decode(), read_golden(name).decode(), f"golden file {name}")


DRIVE = read_golden("drive_command.hex").decode().strip()
CHANGE_SET = read_golden("change_set.hex").decode().strip()


class Golden(ToolTestCase):
    """Outputs that a person reads, compared with the files in golden/."""

    def test_demo(self):
        self.assertGolden("demo.txt", self.ok("demo"))

    def test_demo_messages_are_the_golden_inputs(self):
        demo = self.ok("demo").decode()
        self.assertIn(f"encoded (hex): {DRIVE}\n", demo)
        self.assertIn(f"encoded (hex): {CHANGE_SET}\n", demo)

    def test_types_and_schema(self):
        self.assertGolden("types.txt", self.ok("types"))
        self.assertGolden("schema_CommandVelocity.txt", self.ok("schema", "CommandVelocity"))

    def test_drive_command_and_change_set_in_each_output_form(self):
        for name, type_name in (("drive_command", "CommandVelocity"),
                                ("change_set", "MultiPropertyChanged")):
            source = golden_path(f"{name}.hex")
            for suffix, flags in (("txt", []), ("json", ["--json"]),
                                  ("annotated", ["--annotate"])):
                with self.subTest(name=name, form=suffix):
                    self.assertGolden(f"{name}.{suffix}",
                                      self.ok("decode", type_name, source, "--hex", *flags))

    def test_annotation_marks_unknown_fields_and_out_of_range_numbers(self):
        self.assertGolden("oddities.annotated",
                          self.ok("decode", "CommandVelocity", golden_path("oddities.hex"),
                                  "--hex", "--annotate"))

    def test_delimited_messages_are_numbered_and_counted(self):
        for suffix, flags in (("txt", []), ("annotated", ["--annotate"])):
            with self.subTest(form=suffix):
                self.assertGolden(f"session.delimited.{suffix}",
                                  self.ok("decode", "CommandVelocity", "--delimited", "--hex",
                                          golden_path("session.hex"), *flags))


class RoundTrip(ToolTestCase):
    """encode then decode gives back the message, in every form."""

    def setUp(self):
        super().setUp()
        self.TEXT = read_golden("drive_command.txt").decode()
        self.CHANGE_TEXT = read_golden("change_set.txt").decode()

    def test_text_encodes_to_the_bytes_it_was_decoded_from(self):
        self.assertEqual(self.ok("encode", "CommandVelocity", "--hex", stdin=self.TEXT).decode(),
                         DRIVE + "\n")
        self.assertEqual(
            self.ok("encode", "MultiPropertyChanged", "--hex", stdin=self.CHANGE_TEXT).decode(),
            CHANGE_SET + "\n")

    def test_every_output_form_decodes_back_from_its_input_form(self):
        raw = bytes.fromhex(DRIVE)
        expected = {"": raw, "--hex": (DRIVE + "\n").encode(),
                    "--base64": (base64.b64encode(raw).decode() + "\n").encode()}
        for text_flag, text in (("", self.TEXT),
                                ("--json", read_golden("drive_command.json").decode())):
            for form, encoded in expected.items():
                with self.subTest(input=text_flag or "text", form=form or "raw"):
                    flags = [f for f in (text_flag, form) if f]
                    out = self.ok("encode", "CommandVelocity", *flags, stdin=text)
                    self.assertEqual(out, encoded)
                    back_flags = [f for f in (form,) if f]
                    self.assertEqual(self.ok("decode", "CommandVelocity", *back_flags,
                                             stdin=out).decode(), self.TEXT)

    def test_files_and_standard_input_read_alike(self):
        path = os.path.join(WORK_DIR, "drive.bin")
        with open(path, "wb") as f:
            f.write(self.ok("encode", "CommandVelocity", stdin=self.TEXT))
        self.assertEqual(self.ok("decode", "CommandVelocity", path).decode(), self.TEXT)
        self.assertEqual(self.ok("decode", "CommandVelocity", "-", stdin=open(path, "rb").read())
                         .decode(), self.TEXT)

    def test_delimited_output_encodes_back_to_the_same_stream(self):
        stream = read_golden("session.hex").decode()
        for flags in ([], ["--json"]):
            with self.subTest(form=flags or "text"):
                decoded = self.ok("decode", "CommandVelocity", "--delimited", "--hex", *flags,
                                  stdin=stream)
                again = self.ok("encode", "CommandVelocity", "--delimited", "--hex", *flags,
                                stdin=decoded)
                self.assertEqual(again.decode().strip(), "".join(stream.split()))

    def test_hand_written_messages_separated_by_dashes(self):
        written = "linear: 1\n---\nangular: 2\n---\n"
        stream = self.ok("encode", "CommandVelocity", "--delimited", stdin=written)
        self.assertEqual(stream, bytes.fromhex("050d0000803f" "051500000040" "00"))

    def test_partial_messages_round_trip_with_partial(self):
        text = 'change {\n  properties {\n    metadata {\n      key: "unit"\n    }\n  }\n}\n'
        encoded = self.ok("encode", "MultiPropertyChanged", "--partial", stdin=text)
        self.assertEqual(self.ok("decode", "MultiPropertyChanged", "--partial",
                                 stdin=encoded).decode(), text)
        json = self.ok("decode", "MultiPropertyChanged", "--partial", "--json", stdin=encoded)
        self.assertEqual(self.ok("encode", "MultiPropertyChanged", "--json", "--partial",
                                 stdin=json), encoded)

    def test_every_type_round_trips_its_empty_message(self):
        names = [line.split()[0] for line in self.ok("types").decode().splitlines()
                 if line.startswith("  ")]
        self.assertEqual(len(names), 22)
        for name in names:
            with self.subTest(type=name):
                self.assertEqual(self.ok("encode", name, "--partial", stdin=""), b"")
                self.assertEqual(self.ok("decode", name, "--partial", "--json", stdin=b""),
                                 b"{}\n")


class BadInput(ToolTestCase):
    """Input that is wrong gets a clear answer and exit status 1, and nothing
    on standard output."""

    def test_decode_faults_name_the_byte_offset_and_reason(self):
        cases = [
            ("0d0000003f38808080", "byte 6: truncated varint in send_timestamp_ns (field 7)"),
            ("5a05120308",
             "byte 1: length 5 runs past the end (3 bytes left) in ptz_message (field 11)"),
            ("0d0000003f0f", "byte 5: invalid wire type 7 (field 1)"),
            ("0b" * 101 + "0c" * 101, "byte 100: nesting too deep (more than 100 levels)"),
            ("0d0000", "byte 1: truncated 32-bit value (2 bytes left) in linear (field 1)"),
            ("0c", "byte 0: end-group tag without a start-group tag"),
        ]
        for hex_bytes, says in cases:
            for flags in ([], ["--json"], ["--annotate"]):
                with self.subTest(bytes=hex_bytes[:20], flags=flags):
                    self.fails(EXIT_BAD_INPUT, ["decode", "CommandVelocity", "--hex", *flags],
                               hex_bytes, f"<stdin>: {says}")

    def test_missing_required_fields_are_named_unless_partial(self):
        lacking = bytes.fromhex("0a070a052a030a0161")  # metadata { key: "a" }
        says = "missing required field change.properties[0].metadata[0].value"
        self.fails(EXIT_BAD_INPUT, ["decode", "MultiPropertyChanged"], lacking, [says, "--partial"])
        annotated = self.ok("decode", "MultiPropertyChanged", "--partial", "--annotate",
                            stdin=lacking).decode()
        self.assertTrue(annotated.endswith(says + "\n"), annotated)
        text = 'change { properties { metadata { key: "a" } } }'
        self.fails(EXIT_BAD_INPUT, ["encode", "MultiPropertyChanged"], text, f"<stdin>:1: {says}")
        self.fails(EXIT_BAD_INPUT, ["encode", "MultiPropertyChanged", "--json"],
                   '{"change": {"properties": [{"metadata": [{"key": "a"}]}]}}', says)

    def test_text_that_does_not_parse_is_placed_by_line_and_column(self):
        cases = [
            ([], "linear: 0.5\nangular: x\n", "<stdin>:2:10: Expected double, got: x"),
            ([], "linear: 0.5\nlinaer: 1\n",
             '<stdin>:2:7: Message type "CommandVelocity" has no field named "linaer".'),
            (["--json"], '{\n  "linear": 0.5,\n  "angular": \n}', "<stdin>:4:1: expected a value"),
            (["--json"], '{\n  "ptz_message": {"move": {"pan_target": 1.5}}\n}',
             "<stdin>:2:42: ptz_message.move.pan_target: invalid value 1.5 for type TYPE_INT32"),
            (["--json"], '{\n  "ptzMessage": {\n    "mvoe": {}\n  }\n}',
             "<stdin>:3:5: ptz_message.mvoe: Cannot find field."),
            (["--json"], '{"laserMessage": {"pointTo": {"stateWhileMoving": "FOO"}}}',
             '<stdin>:1:51: laser_message.point_to.state_while_moving: invalid value "FOO" '
             'for type LaserState'),
        ]
        for flags, text, says in cases:
            with self.subTest(text=text):
                self.fails(EXIT_BAD_INPUT, ["encode", "CommandVelocity", *flags], text, says)
        # In a stream, lines count from the start; the messages before the
        # bad one are written.
        result = run("encode", "CommandVelocity", "--delimited", "--hex",
                     stdin="linear: 1\n---\nlinear: 2\n---\nlinear: q\n")
        self.assertEqual(result.code, EXIT_BAD_INPUT)
        self.assertIn("<stdin>:5:9: Expected double, got: q", result.err)
        self.assertEqual(result.text, "050d0000803f050d00000040\n")

    def test_hex_and_base64_that_do_not_decode(self):
        self.fails(EXIT_BAD_INPUT, ["decode", "Ping", "--hex"], "08 0z",
                   "<stdin>: invalid hex digit 'z' at text offset 4")
        self.fails(EXIT_BAD_INPUT, ["decode", "Ping", "--hex"], "080", "odd number of hex digits")
        self.fails(EXIT_BAD_INPUT, ["decode", "Ping", "--base64"], "CAE*",
                   "invalid base64 character '*' at text offset 3")

    def test_a_bad_message_in_a_stream_stops_it_after_the_good_ones(self):
        good = "050d0000803f"
        cases = [
            (good + "07" + "0d0000", "message 2: byte 6: message length 7 runs past the end"),
            (good + "80", "message 2: byte 6: truncated length prefix"),
            (good + "0208ff", "message 2: byte 8: truncated varint in unknown field 1"),
        ]
        for stream, says in cases:
            with self.subTest(stream=stream):
                result = run("decode", "CommandVelocity", "--delimited", "--hex", stdin=stream)
                self.assertEqual(result.code, EXIT_BAD_INPUT)
                self.assertIn(f"<stdin>: {says}", result.err)
                self.assertEqual(result.text, "--- message 1: 5 bytes at offset 1\nlinear: 1\n")

    def test_unreadable_files(self):
        missing = os.path.join(WORK_DIR, "no-such-file")
        for command in ("decode", "encode"):
            self.fails(EXIT_BAD_INPUT, [command, "Ping", missing], says=f"cannot open {missing}")


class Usage(ToolTestCase):
    """Command lines that make no sense: exit status 2 and a hint."""

    def test_usage_errors(self):
        cases = [
            ([], "Usage: session-proto COMMAND"),
            (["frobnicate"], "unknown command 'frobnicate'"),
            (["decode"], "decode needs a TYPE"),
            (["decode", "NoSuchType"],
             "unknown message type 'NoSuchType' (session-proto types lists them)"),
            (["decode", "Ping", "--frob"], "unknown option '--frob' for decode"),
            (["encode", "Ping", "--annotate"], "unknown option '--annotate' for encode"),
            (["decode", "Ping", "--hex", "--base64"], "--hex and --base64 exclude each other"),
            (["decode", "Ping", "--json", "--annotate"], "--json and --annotate exclude"),
            (["decode", "Ping", "a", "b"], "unexpected argument 'b'"),
            (["types", "extra"], "unexpected argument 'extra'"),
            (["help", "frobnicate"], "unknown command 'frobnicate'"),
        ]
        for args, says in cases:
            with self.subTest(args=args):
                self.fails(EXIT_USAGE, args, says=says)

    def test_type_names_a_person_would_type(self):
        for name in ("PropertyChanged.KVPair", "PropertyChanged_KVPair", "KVPair",
                     ".PropertyChanged.KVPair"):
            self.assertIn(b"message KVPair {", self.ok("schema", name))
        for name in ("tolva.calibration.PTZCameraParameters", "PTZCameraParameters",
                     "tolva::calibration::PTZCameraParameters", "calibration.PTZCameraParameters"):
            self.assertIn(b"package tolva.calibration;", self.ok("schema", name))

    def test_help_for_the_tool_and_every_command(self):
        overview = self.ok("--help").decode()
        commands = re.findall(r"^  (\w+)", overview.split("Commands:")[1], re.M)
        self.assertEqual(commands, ["types", "schema", "decode", "encode", "demo", "help"])
        self.assertEqual(self.ok("help"), self.ok("--help"))
        for command in commands:
            with self.subTest(command=command):
                text = self.ok(command, "--help")
                self.assertTrue(text.startswith(f"Usage: session-proto {command}".encode()))
                self.assertEqual(self.ok("help", command), text)
        for flag in ("--hex", "--base64", "--json", "--annotate", "--delimited", "--partial"):
            self.assertIn(flag.encode(), self.ok("decode", "--help"))


def peak_memory_kib(pid):
    """The peak resident memory of a running process, or 0 if unknown."""
    try:
        with open(f"/proc/{pid}/status") as status:
            for line in status:
                if line.startswith("VmHWM:"):
                    return int(line.split()[1])
    except OSError:
        pass
    return 0


class Stream(ToolTestCase):
    """A long recorded session goes through a message at a time."""

    COUNT = 100_000

    def run_sampled(self, args, stdin_path, stdout_path):
        """Runs the tool to the end, sampling its peak memory (KiB) meanwhile
        (the peak of the process itself: a child's resource usage would
        include the memory of this interpreter it was forked from)."""
        with open(stdin_path, "rb") as stdin, open(stdout_path, "wb") as stdout:
            process = subprocess.Popen([TOOL, *args], stdin=stdin, stdout=stdout,
                                       stderr=subprocess.PIPE)
            peak = 0
            while process.poll() is None:
                peak = max(peak, peak_memory_kib(process.pid))
                time.sleep(0.005)
            self.assertEqual(process.stderr.read(), b"", args)
            process.stderr.close()
        return process.returncode, peak

    def baseline(self, args, first_bytes):
        """The peak memory of the same command after a little input."""
        process = subprocess.Popen([TOOL, *args], stdin=subprocess.PIPE,
                                   stdout=subprocess.DEVNULL)
        process.stdin.write(first_bytes)
        process.stdin.flush()
        time.sleep(0.5)
        peak = peak_memory_kib(process.pid)
        process.stdin.close()
        process.wait()
        return peak

    def test_100000_messages_in_bounded_memory(self):
        text_path = os.path.join(WORK_DIR, "session.txt")
        with open(text_path, "w") as f:
            for i in range(self.COUNT):
                f.write(f"--- message {i + 1}\n"
                        f"change {{ change_set_id: {i} properties {{ "
                        f'path: "/robot/sensors/{i:06d}/temperature/reading/celsius" '
                        f'value: "{i:032d}" last_change_time: {1700000000000 + i} }} }}\n')
        stream_path = os.path.join(WORK_DIR, "session.bin")
        decoded_path = os.path.join(WORK_DIR, "session.decoded")
        encode = ["encode", "MultiPropertyChanged", "--delimited"]
        decode = ["decode", "MultiPropertyChanged", "--delimited"]

        code, encode_peak = self.run_sampled(encode, text_path, stream_path)
        self.assertEqual(code, EXIT_OK)
        stream_size = os.path.getsize(stream_path)
        self.assertGreater(stream_size, 10_000_000)

        code, decode_peak = self.run_sampled(decode, stream_path, decoded_path)
        self.assertEqual(code, EXIT_OK)
        with open(decoded_path, "rb") as f:
            f.seek(-200, os.SEEK_END)
            tail = f.read().decode().splitlines()
        self.assertEqual(tail[-1], f"# {self.COUNT} messages")

        # Holding the stream, its messages or their text would add at least
        # the stream's 10 MB to what the first few messages take.
        with open(text_path, "rb") as f:
            encode_baseline = self.baseline(encode, f.read(2000))
        with open(stream_path, "rb") as f:
            decode_baseline = self.baseline(decode, f.read(2000))
        print(f"\npeak KiB: encode {encode_peak} (baseline {encode_baseline}), "
              f"decode {decode_peak} (baseline {decode_baseline})", file=sys.stderr)
        if SANITIZED:
            self.skipTest("memory bound not checked under sanitizers")
        if not (encode_peak and decode_peak and encode_baseline and decode_baseline):
            self.skipTest("peak memory is not readable from /proc")
        margin = stream_size // 1024 // 2
        self.assertLess(encode_peak, encode_baseline + margin)
        self.assertLess(decode_peak, decode_baseline + margin)


class Readme(ToolTestCase):
    """The README's usage section shows real commands with their real output."""

    def examples(self):
        with open(os.path.join(SOURCE_DIR, "README.md")) as f:
            readme = f.read()
        section = readme.split("<!-- cli:begin -->")[1].split("<!-- cli:end -->")[0]
        for block in re.findall(r"```console\n(.*?)```", section, re.S):
            command, output = None, []
            for line in block.splitlines(keepends=True):
                if line.startswith("$ "):
                    if command is not None:
                        yield command, "".join(output)
                    command, output = line[2:].rstrip("\n"), []
                else:
                    output.append(line)
            if command is not None:
                yield command, "".join(output)

    def test_examples_give_the_output_shown(self):
        examples = list(self.examples())
        self.assertGreaterEqual(len(examples), 5)
        directory = os.path.join(WORK_DIR, "readme")
        shutil.rmtree(directory, ignore_errors=True)
        os.makedirs(directory)
        env = dict(os.environ, PATH=os.path.dirname(TOOL) + os.pathsep + os.environ["PATH"])
        for command, expected in examples:
            with self.subTest(command=command):
                done = subprocess.run(["bash", "-o", "pipefail", "-c", "{ %s\n} 2>&1" % command],
                                      cwd=directory, env=env, capture_output=True, timeout=60)
                self.assertEqual(done.stdout.decode(), expected, command)


class InstalledLayout(ToolTestCase):
    """The installed binary finds the installed libraries, not the build's."""

    def test_runs_on_the_libraries_beside_it(self):
        self.assertTrue(TOOL.startswith(PREFIX + os.sep), TOOL)
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
