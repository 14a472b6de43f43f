#!/usr/bin/env bash
# Runs the built nbl on a few files: every command, standard input and output, a damaged file, bad usage.
# Usage: nbl_end_to_end.sh PATH/TO/nbl WORK_FOLDER [EMULATOR...]  (an emulator runs a cross-built nbl)
set -u
nbl=$1
work=$2
shift 2
rm -rf "$work" && mkdir -p "$work" && cd "$work" || exit 1
if [ $# -gt 0 ]; then
  printf '#!/bin/sh\nexec %s "%s" "$@"\n' "$*" "$nbl" > run-nbl && chmod +x run-nbl
  nbl=$PWD/run-nbl
fi
failures=0
fail() { echo "FAILED: $*" >&2; failures=$((failures + 1)); }
# expect STATUS EXPECTED_STDOUT COMMAND...: runs the command, compares its exit status and standard output.
expect() {
  local status=$1 want=$2; shift 2
  local got rc
  got=$("$@" 2> stderr.txt); rc=$?
  [ "$rc" = "$status" ] || fail "$* exited with $rc, not $status ($(cat stderr.txt))"
  [ "$got" = "$want" ] || fail "$* printed [$got], not [$want]"
}
# says MESSAGE: the last command's standard error is exactly MESSAGE.
says() { [ "$(cat stderr.txt)" = "$1" ] || fail "printed [$(cat stderr.txt)], not [$1]"; }

printf '5 -3\n+7\n\t2147483647   -2147483648 5\n' > a.txt
printf '%s\n' 5 6 7 8 > b.txt
expect 0 "" "$nbl" convert a.txt a.roaring
expect 0 "" "$nbl" convert a.roaring a.nbl
expect 0 "$(printf 'format: nbl\nmembers: 5\nblocks: 4\nlowest: -2147483648\nhighest: 2147483647')" "$nbl" info a.nbl
expect 0 "$(printf '%s\n' -2147483648 -3 5 7 2147483647)" "$nbl" list a.roaring
expect 0 "ok" "$nbl" check a.nbl
expect 0 "$(printf 'format: roaring\nmembers: 0\nblocks: 0')" "$nbl" info - --from roaring < <(printf '\x3a\x30\0\0\0\0\0\0')

# combine: each operation, with B from standard input and OUT to standard output.
expect 0 "$(printf '%s\n' 5 7)" "$nbl" combine intersect a.txt - - --from text --to text < b.txt
expect 0 "" "$nbl" combine unite a.txt b.txt u.roaring
expect 0 "$(printf '%s\n' -2147483648 -3 5 6 7 8 2147483647)" "$nbl" list u.roaring
expect 0 "" "$nbl" combine subtract a.txt b.txt d.nbl
expect 0 "$(printf '%s\n' -2147483648 -3 2147483647)" "$nbl" list d.nbl
expect 0 "$(printf '%s\n' -2147483648 -3 6 8 2147483647)" "$nbl" combine invert a.txt b.txt - --to text

# A damaged file: reported with status 1, and an existing OUT stays as it was.
head -c 20 a.roaring > cut.roaring
expect 1 "" "$nbl" check cut.roaring
says 'nbl: cut.roaring: Damaged Roaring bitmap: the data ends early'
expect 1 "" "$nbl" combine unite a.txt cut.roaring c.nbl
says 'nbl: cut.roaring: Damaged Roaring bitmap: the data ends early'
cp a.nbl kept.nbl
expect 1 "" "$nbl" convert cut.roaring kept.nbl
cmp -s a.nbl kept.nbl || fail "a failed convert changed its output"
printf '1\n2 3x\n' > bad.txt
expect 1 "" "$nbl" check bad.txt
says 'nbl: bad.txt: line 2: "3x" is not a 32-bit integer'
expect 1 "" "$nbl" list missing.nbl
printf 'hello world\n' > hello.nbl
expect 1 "" "$nbl" info hello.nbl
says 'nbl: hello.nbl: not a set file (neither the NBL1 nor the legacy form)'
expect 1 "" "$nbl" info - --from nbl < .
says 'nbl: standard input: Stream read error'

# Legacy form: a little-endian block count, then per block a little-endian key and a 32-byte map.
zeros=$(printf '\\0%.0s' {1..31})
printf "\x01\0\0\0\0\0\x80\0\x01$zeros" > far.nbl
expect 1 "" "$nbl" check far.nbl
says 'nbl: far.nbl: CRC error'
printf "\x02\0\0\0\x05\0\0\0\x01$zeros\x03\0\0\0\x01$zeros" > unordered.nbl
expect 0 "$(printf 'format: nbl-legacy\nmembers: 2\nblocks: 2\nlowest: 768\nhighest: 1280\nkeys: out of order')" \
  "$nbl" info unordered.nbl
expect 1 "" "$nbl" check unordered.nbl
says 'nbl: unordered.nbl: the block keys are out of order (a damaged legacy-form file)'
expect 1 "" "$nbl" combine unite a.txt unordered.nbl c.nbl
says 'nbl: unordered.nbl: the block keys are out of order (a damaged legacy-form file)'

# --max-blocks: a.txt and a.nbl take 4 blocks.
expect 1 "" "$nbl" check a.txt --max-blocks 3
says 'nbl: a.txt: The input would need at least 4 blocks, more than the limit of 3'
expect 1 "" "$nbl" list a.nbl --max-blocks 3
expect 0 "ok" "$nbl" check a.nbl --max-blocks 4

# A failing standard output.
if [ -w /dev/full ]; then
  "$nbl" list a.nbl > /dev/full 2> stderr.txt; [ $? = 1 ] || fail "a list to /dev/full did not exit with 1"
  says 'nbl: standard output: Stream write error'
fi

# Bad usage: status 2.
expect 2 "" "$nbl" info a.dat
expect 2 "" "$nbl" convert a.txt
expect 2 "" "$nbl" combine join a.txt b.txt c.txt
expect 2 "" "$nbl" list -
expect 0 "nbl 1.0.0" "$nbl" --version
"$nbl" combine --help | grep -q intersect || fail "combine --help does not describe its operations"

[ "$failures" = 0 ] && echo "all nbl checks passed"
exit $((failures > 0))
