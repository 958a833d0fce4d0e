#!/bin/sh
# Writes the manual page of session-proto from the tool's own help, so that
# the page follows the tool: help2man turns `session-proto --help` and
# `--version` into the page, and each command listed there gets a subsection
# of COMMANDS holding its `session-proto COMMAND --help` as it is printed.
# Usage: man_page.sh HELP2MAN TOOL OUTPUT
set -eu
help2man=$1
tool=$2
out=$3
include=$out.include

commands=$("$tool" --help |
  sed -n '/^Commands:/,/^$/s/^  \([a-z][a-z0-9-]*\)  .*/\1/p' | grep -vx help || true)
[ -n "$commands" ] || { echo "man_page.sh: no commands in '$tool --help'" >&2; exit 1; }

# troff escapes: backslashes, minus signs (options must stay ASCII hyphens
# when copied from the page) and control characters at line starts.
{
  echo '[COMMANDS]'
  for command in $commands; do
    printf '.SS "%s"\n.nf\n' "$command"
    "$tool" "$command" --help |
      sed -e 's/\\/\\e/g' -e 's/-/\\-/g' -e "s/^\\([.']\\)/\\\\\\&\\1/"
    printf '.fi\n'
  done
  echo '[SEE ALSO]'
  echo 'The README of session_protolib has worked examples of every command.'
} >"$include"

"$help2man" --no-info --section=1 \
  --name="read and write the messages of a robot's control session" \
  --include="$include" --output="$out" "$tool"
rm -f "$include"
