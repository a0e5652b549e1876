#!/bin/bash
# Rewrites fuzz/corpus/request/ from fuzz/corpus/compile/: every compile seed
# as a well-formed request, plus requests for the other header, read and
# write paths. The layout (two bytes of flags and parameter, NUL-ended header
# fields, then the body) is described in harness.h.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
src=$here/corpus/compile
dst=$here/corpus/request
rm -rf "$dst"
mkdir -p "$dst"

# seed NAME FLAGS PARAMETER FIELDS BODY-FILE: FLAGS and PARAMETER are octal
# byte escapes; FIELDS is printf text ending in \0 per field.
# shellcheck disable=SC2059  # the flag bytes are printf escapes
seed() {
  { printf "\\$2\\$3$4"; cat "$5"; } >"$dst/$1"
}

for f in "$src"/*; do
  seed "$(basename "$f")" 012 000 "" "$f"  # accepted type, the body's length
done
loop=$src/sum_loop.c
seed short_reads 032 003 "" "$loop"
seed interrupted_reads 052 007 "" "$loop"
seed read_error 072 024 "" "$loop"
seed closed_output 112 050 "" "$loop"
seed body_longer_than_declared 016 005 "" "$loop"
seed no_type 010 000 "" "$loop"
seed other_type 011 000 'text/html\0' "$loop"
seed no_length 002 000 "" "$loop"
seed length_not_a_number 006 000 '12a\0' "$loop"
seed length_with_plus 006 000 '+77\0' "$loop"
seed length_too_large 006 000 '65536\0' "$loop"
seed length_overflows 006 000 '18446744073709551616\0' "$loop"
seed body_shorter_than_declared 006 000 '200\0' "$loop"
