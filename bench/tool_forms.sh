#!/usr/bin/env bash
# Times session-proto's text forms against each other and measures its
# memory on one large message:
#  - a stream of COUNT drive commands (default 1,000,000), decoded from
#    --delimited to text and to --json-lines, and encoded back from each;
#    wall time, best of three, and the JSON/text ratio of each direction;
#  - one MultiPropertyChanged holding a 50 MB bytes field, decoded to text,
#    JSON and JSON Lines and encoded back from each: time and peak resident
#    memory (/usr/bin/time), and peak/message size.
# The tool is built in Release mode in build/bench-tool. Scratch files go to
# WORK (default build/bench-tool/work).
# Usage: bench/tool_forms.sh
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
protolib_need "${PROTOLIB_BASE_PACKAGES[@]}" time

build=build/bench-tool
work=${WORK:-$build/work}
count=${COUNT:-1000000}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DPROTOLIB_BUILD_TESTS=OFF \
  -DPROTOLIB_BUILD_EXAMPLES=OFF >/dev/null
cmake --build "$build" --target session-proto -j"$protolib_jobs" >/dev/null
tool=$(find "$build" -name session-proto -type f -perm -u+x | head -1)
mkdir -p "$work"

# Wall seconds of the best of three runs of a command line.
best_of_three() {
  local best="" t
  for _ in 1 2 3; do
    t=$( { /usr/bin/time -f %e bash -c "$1" >/dev/null; } 2>&1 | tail -1)
    if [ -z "$best" ] || awk "BEGIN { exit !($t < $best) }"; then best=$t; fi
  done
  echo "$best"
}

# The stream: drive commands with a time stamp, as recorded sessions hold.
awk -v n="$count" 'BEGIN {
  for (i = 0; i < n; i++)
    printf "--- message %d\nlinear: %.2f angular: %.3f send_timestamp_ns: %d\n",
           i + 1, (i % 200) / 100.0, (i % 17) / 8.0 - 1, 1700000000000000000 + i * 20000000
}' > "$work/stream.txt"
"$tool" encode CommandVelocity --delimited "$work/stream.txt" > "$work/stream.bin"
"$tool" decode CommandVelocity --delimited --json-lines "$work/stream.bin" > "$work/stream.jsonl"
echo "stream: $count drive commands, $(stat -c %s "$work/stream.bin") bytes"
d_text=$(best_of_three "'$tool' decode CommandVelocity --delimited '$work/stream.bin' > '$work/out'")
d_json=$(best_of_three "'$tool' decode CommandVelocity --delimited --json-lines '$work/stream.bin' > '$work/out'")
e_text=$(best_of_three "'$tool' encode CommandVelocity --delimited '$work/stream.txt' > '$work/out'")
e_json=$(best_of_three "'$tool' encode CommandVelocity --json-lines --delimited '$work/stream.jsonl' > '$work/out'")
printf '%-28s %8s %8s %8s\n' direction text json json/text
printf '%-28s %7ss %7ss %8.2f\n' "decode --delimited" "$d_text" "$d_json" "$(awk "BEGIN { print $d_json / $d_text }")"
printf '%-28s %7ss %7ss %8.2f\n' "encode --delimited" "$e_text" "$e_json" "$(awk "BEGIN { print $e_json / $e_text }")"

# One message with a 50 MB bytes field.
size=$((50 * 1000 * 1000))
{ printf '\x12'; printf '\x80\xe1\xeb\x17'; head -c $size /dev/urandom; } > "$work/big.bin"
echo
echo "one MultiPropertyChanged with a $size-byte field"
printf '%-24s %8s %10s %8s\n' form seconds "peak MB" peak/size
for form in text json json-lines; do
  flag=$([ $form = text ] && echo "" || echo "--$form")
  encode_flag=$([ $form = text ] && echo "" || echo "--json")
  for direction in decode encode; do
    if [ $direction = decode ]; then
      cmd="'$tool' decode MultiPropertyChanged $flag '$work/big.bin' > '$work/big.$form'"
    else
      cmd="'$tool' encode MultiPropertyChanged $encode_flag '$work/big.$form' > '$work/out'"
    fi
    read -r seconds kib < <( { /usr/bin/time -f '%e %M' bash -c "$cmd"; } 2>&1 | tail -1)
    printf '%-24s %8s %10d %8.2f\n' "$direction $form" "$seconds" $((kib / 1024)) \
      "$(awk "BEGIN { print $kib * 1024 / $size }")"
  done
done
