#!/usr/bin/env bash
# Runs the built nbl as a shell user would: formats found from the content of files, pipes and process
# substitutions; the operations against sort -u and comm on random files; compare's relations and exit
# statuses; text syntax; damaged files, limits and messages; the terminal refusal; peak memory; completion.
# Usage: nbl_end_to_end.sh PATH/TO/nbl WORK_FOLDER [EMULATOR...]  (an emulator runs a cross-built nbl)
set -u
nbl=$1
work=$2
shift 2
here="$(cd "$(dirname "$0")" && pwd)"
rm -rf "$work" && mkdir -p "$work" && cd "$work" || exit 1
emulated=$#
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
lines() { printf '%s\n' "$@"; }

# --- Formats, found from the content of every input separately --------------------------------------------
printf '5 -3\n+7\n\t2147483647   -2147483648 5\n' > a.txt
lines 5 6 7 8 > b.txt
expect 0 "" "$nbl" convert a.txt a.roaring
expect 0 "" "$nbl" convert a.roaring A.NBL
expect 0 "" "$nbl" convert A.NBL upper.TXT
cmp -s <(lines -2147483648 -3 5 7 2147483647) upper.TXT || fail "convert to .TXT did not write text"
cp a.roaring roaring-set && cp A.NBL nbl-set && cp a.txt text-set
printf "\x01\0\0\0\0\0\0\0\x20$(printf '\\0%.0s' {1..31})" > legacy-set  # members 5
summary='members: 5\nblocks: 4\nlowest: -2147483648\nhighest: 2147483647'
expect 0 "$(printf "format: nbl\n$summary")" "$nbl" info nbl-set
expect 0 "$(printf "format: roaring\n$summary")" "$nbl" info - < roaring-set
expect 0 "$(printf "format: text\n$summary")" "$nbl" info <(cat text-set)
expect 0 "$(printf 'format: nbl-legacy\nmembers: 1\nblocks: 1\nlowest: 5\nhighest: 5')" "$nbl" info <(cat legacy-set)
expect 0 "$(printf 'format: roaring\nmembers: 0\nblocks: 0')" "$nbl" info <(printf '\x3a\x30\0\0\0\0\0\0')
expect 0 "$(lines 7 2147483647)" "$nbl" subtract roaring-set - legacy-set < <(lines -3 -2147483648)
expect 0 "$(lines 6 7 8)" sh -c "seq 1 5 | '$nbl' combine subtract b.txt - -"
expect 0 "$(lines 5 7)" "$nbl" intersect <(cat nbl-set) - < b.txt
expect 1 "" "$nbl" intersect nbl-set b.txt --from roaring
says 'nbl: nbl-set: Not a Roaring bitmap'

# --- The operations on random files, against sort -u and comm ----------------------------------------------
RANDOM=24
sorted() { sort -u "$@"; }  # comm wants the order of sort
for round in 1 2 3; do
  for f in 1 2 3 4; do
    for ((i = 0; i < 200 + RANDOM % 300; i++)); do echo $((RANDOM % 700 - 350)); done > r$f.txt
    sorted r$f.txt > s$f.txt
  done
  "$nbl" convert r2.txt r2.nbl && "$nbl" convert r3.txt r3.roaring
  ops=(r1.txt r2.nbl - r4.txt)
  same() { cmp -s <(sort -n "$1") <("${@:2}") || fail "round $round: $* differs from its oracle"; }
  sort -u s1.txt s2.txt s3.txt s4.txt > want.txt
  same want.txt "$nbl" unite "${ops[@]}" < r3.roaring
  comm -12 s1.txt s2.txt | comm -12 - s3.txt | comm -12 - s4.txt > want.txt
  same want.txt "$nbl" intersect "${ops[@]}" < r3.roaring
  sort -u s2.txt s3.txt s4.txt | comm -23 s1.txt - > want.txt
  same want.txt "$nbl" subtract "${ops[@]}" < r3.roaring
  cat s1.txt s2.txt s3.txt s4.txt | sort | uniq -c | awk '$1 % 2 { print $2 }' > want.txt
  same want.txt "$nbl" invert "${ops[@]}" < r3.roaring
  "$nbl" invert "${ops[@]}" -o inv.Roaring < r3.roaring && same want.txt "$nbl" list inv.Roaring
  "$nbl" list --ranges r1.txt > ranges.txt && same s1.txt "$nbl" list ranges.txt
done
expect 2 "" "$nbl" unite a.txt - -
says $'nbl: standard input (-) can be only one of the inputs\nRun nbl --help for more information.'

# --- compare: the five relations, and --is with its three exit statuses ------------------------------------
expect 0 "equal" "$nbl" compare <(seq 3) <(lines 3 2 1)
expect 0 "equal" "$nbl" compare <(true) <(echo '# nothing')
expect 0 "subset" "$nbl" compare <(true) b.txt
expect 0 "superset" "$nbl" compare b.txt <(seq 6 7)
expect 0 "disjoint" "$nbl" compare b.txt <(seq 1 4)
expect 0 "overlap" "$nbl" compare b.txt A.NBL
expect 0 "" "$nbl" compare --is subset b.txt <(seq 1 10)
expect 0 "" "$nbl" compare --is superset b.txt b.txt
expect 0 "" "$nbl" compare --is equal b.txt <(seq 8 -1 5)
expect 1 "" "$nbl" compare --is equal b.txt <(seq 5 9)
expect 1 "" "$nbl" compare --is disjoint b.txt A.NBL
expect 2 "" "$nbl" compare --is subset b.txt missing.nbl
says 'nbl: missing.nbl: No such file or directory'
expect 2 "" "$nbl" compare --is overlap b.txt b.txt

# --- count: from the records where the format has them ------------------------------------------------------
expect 0 "3" sh -c "seq 3 | '$nbl' count -"
expect 0 "$(printf '5 A.NBL\n5 a.roaring\n1 legacy-set\n4 -')" "$nbl" count A.NBL a.roaring legacy-set - < b.txt
expect 1 "$(printf '5 A.NBL\n4 b.txt')" "$nbl" count A.NBL missing.nbl b.txt
says 'nbl: missing.nbl: No such file or directory'

# --- Text: ranges, comments, blank lines, a byte-order mark; list --ranges ----------------------------------
printf '\xEF\xBB\xBF# ids\n\n-2..2 # a range\n10..12\n7#seven\n  \n2147483646..2147483647\n' > syntax.txt
expect 0 "$(lines -2 -1 0 1 2 7 10 11 12 2147483646 2147483647)" "$nbl" list syntax.txt
expect 0 "$(lines -2..2 7 10..12 2147483646 2147483647)" "$nbl" list --ranges syntax.txt
expect 0 "$(printf 'format: text\nmembers: 3000001\nblocks: 11720\nlowest: -1000000\nhighest: 2000000')" \
  "$nbl" info <(echo '-1000000..2000000')
# A text of about 2 MB, so that tokens and comments straddle the chunks it is read in, against an awk oracle.
awk 'BEGIN { srand(24); for (i = 0; i < 150000; i++) {
  r = rand(); v = int(rand() * 4000000) - 2000000
  if (r < 0.05) { printf "%d..%d # to %d\n", v, v + int(rand() * 3000), v } else if (r < 0.1) { printf "+%d\r\n", v < 0 ? -v : v }
  else if (r < 0.15) { printf "\t%d %d  ", v, -v } else { printf "%d\n", v } } }' > big.txt
awk '{ sub(/#.*/, ""); for (i = 1; i <= NF; i++) { n = split($i, end, /\.\./)
  if (n == 2) { for (v = end[1]; v <= end[2]; v++) print v } else print $i + 0 } }' big.txt | sort -n -u > big-want.txt
"$nbl" list big.txt | cmp -s - big-want.txt || fail "list big.txt differs from its awk oracle"
printf '1\n\n9..2\n' > down.txt
expect 1 "" "$nbl" list down.txt
says 'nbl: down.txt: Line 3: "9..2": the range ends below its start'
printf '1..2147483648\n' > far.txt
expect 1 "" "$nbl" list far.txt
says 'nbl: far.txt: Line 1: "1..2147483648" is not a range of two 32-bit integers'
printf '1\n2 3x\n' > bad.txt
expect 1 "" "$nbl" check bad.txt
says 'nbl: bad.txt: Line 2: "3x" is not a 32-bit integer'

# --- Damage, limits and messages: each names its file once and says what is wrong --------------------------
head -c 20 a.roaring > cut.roaring
expect 1 "" "$nbl" check cut.roaring
says 'nbl: cut.roaring: Damaged Roaring bitmap: the data ends early'
cp A.NBL kept.nbl
expect 1 "" "$nbl" convert cut.roaring kept.nbl
cmp -s A.NBL kept.nbl || fail "a failed convert changed its output"
crc='CRC error: the set is damaged (a checksum, a block count or a block key is wrong)'
{ head -c -1 A.NBL; printf '\x7f'; } > sum.nbl  # the checksum's last byte changed
for command in info count check list; do
  expect 1 "" "$nbl" $command sum.nbl
  says "nbl: sum.nbl: $crc"
done
# The records of an .nbl, walked by info, count and check, against the library's reader behind list: both
# take or refuse the same cut or changed files, with the same message.
seq 0 7 40000 | "$nbl" convert - walk.nbl
size=$(stat -c %s walk.nbl)
for i in $(seq 40); do
  cp walk.nbl bent.nbl
  if [ $((i % 4)) = 0 ]; then
    head -c $((RANDOM * size / 32768)) walk.nbl > bent.nbl
  else
    printf "\\x$(printf %02x $((RANDOM % 256)))" | dd of=bent.nbl bs=1 seek=$((RANDOM * size / 32768)) conv=notrunc 2> /dev/null
  fi
  walked=$("$nbl" count bent.nbl 2>&1) listed=$("$nbl" list bent.nbl 2>&1 | tail -n 1)
  case $walked in
    nbl:*) [ "$walked" = "$listed" ] || fail "count said [$walked], list [$listed]" ;;
    *) [ "$walked" = "$("$nbl" list bent.nbl | wc -l) bent.nbl" ] || fail "count said [$walked] on a file list reads" ;;
  esac
done
zeros=$(printf '\\0%.0s' {1..31})
printf "\x01\0\0\0\0\0\x80\0\x01$zeros" > far.nbl
expect 1 "" "$nbl" check far.nbl
says "nbl: far.nbl: $crc"
printf "\x02\0\0\0\x05\0\0\0\x01$zeros\x03\0\0\0\x01$zeros" > unordered.nbl
expect 0 "$(printf 'format: nbl-legacy\nmembers: 2\nblocks: 2\nlowest: 768\nhighest: 1280\nkeys: out of order')" \
  "$nbl" info unordered.nbl
expect 1 "" "$nbl" check unordered.nbl
says 'nbl: unordered.nbl: The block keys are out of order (a damaged legacy-form file)'
expect 1 "" "$nbl" unite a.txt unordered.nbl
says 'nbl: unordered.nbl: The block keys are out of order (a damaged legacy-form file)'
expect 1 "" "$nbl" check a.txt --max-blocks 3
says 'nbl: a.txt: The input would need at least 4 blocks, more than the limit of 3'
expect 1 "" "$nbl" count A.NBL --max-blocks 3
expect 0 "ok" "$nbl" check A.NBL --max-blocks 4
printf '\x1f\x8b\x08\0\0\0\0\0\0\x03' > data.gz  # a gzip header reads as a count of 559903 blocks
expect 1 "" "$nbl" info data.gz --max-blocks 1000
says 'nbl: data.gz: Not a set file (neither NBL1, legacy, Roaring nor text)'
expect 1 "" "$nbl" info - --max-blocks 1000 < <(cat data.gz)
says 'nbl: standard input: Not a set file (neither NBL1, legacy, Roaring nor text)'
expect 1 "" "$nbl" list missing.nbl
says 'nbl: missing.nbl: No such file or directory'
expect 1 "" "$nbl" info - < .
says 'nbl: standard input: Is a directory'
if [ -w /dev/full ]; then
  expect 1 "" sh -c "'$nbl' list A.NBL > /dev/full"
  says 'nbl: standard output: No space left on device'
  expect 1 "" "$nbl" unite A.NBL -o /dev/full --to nbl
  says 'nbl: /dev/full: No space left on device'
fi

# --- Usage: status 2, saying what is wrong -----------------------------------------------------------------
expect 2 "" "$nbl" frobnicate
says $'nbl: unknown subcommand "frobnicate"\nRun nbl --help for more information.'
expect 2 "" "$nbl" list -x.txt
says $'nbl: unknown option -x.txt\nRun nbl list --help for more information.'
expect 2 "" "$nbl" convert a.txt
expect 2 "" "$nbl" combine join a.txt b.txt c.txt
expect 2 "" "$nbl" convert a.txt out.dat
expect 0 "nbl 1.0.0" "$nbl" --version
expect 0 "nbl 1.0.0" "$nbl" version
[ "$("$nbl" help)" = "$("$nbl" --help)" ] || fail "nbl help is not nbl --help"
[ "$("$nbl" help compare)" = "$("$nbl" compare --help)" ] || fail "nbl help compare is not nbl compare --help"
for command in "" $("$nbl" --help | sed -n '/^Subcommands:/,/^$/s/^  \([a-z]*\) .*/\1/p'); do
  "$nbl" $command --help | awk -v c="nbl $command" 'length > 80 { print c ": " $0; bad = 1 } END { exit bad }' >&2 ||
    fail "nbl $command --help has lines over 80 columns"
done

# --- A binary format is not written to a terminal without -f -----------------------------------------------
if command -v script > /dev/null; then
  script -qec "'$nbl' convert A.NBL - --to nbl" /dev/null > tty.txt
  [ $? = 2 ] && grep -q 'use -o FILE or a redirection' tty.txt || fail "nbl wrote binary to a terminal"
  script -qec "'$nbl' convert A.NBL - --to roaring -f" /dev/null > tty.txt || fail "-f did not write to the terminal"
  script -qec "'$nbl' list A.NBL" /dev/null > tty.txt || fail "text was not written to a terminal"
fi

# --- Memory follows the set, not the input (peaks from GNU time, with a generous margin) -------------------
if [ "$emulated" = 0 ] && [ -x /usr/bin/time ]; then
  peak_kb() { /usr/bin/time -f %M -o peak.txt "$@" > /dev/null && cat peak.txt; }
  base=$(peak_kb "$nbl" version)
  text=$(head -c 120000000 < <(yes 7) | peak_kb "$nbl" count -)
  [ $((text - base)) -lt 20000 ] || fail "reading 120 MB of text that holds one value took $((text - base)) kB more"
  seq 0 256 268435455 | "$nbl" convert - sparse.nbl --from text  # 1,048,576 one-member blocks: a 36 MB set
  info=$(peak_kb "$nbl" info sparse.nbl)
  [ $((info - base)) -lt 12000 ] || fail "info on a 9 MB .nbl took $((info - base)) kB more"
fi

# --- The session of docs/nbl.md: its commands print what it shows ------------------------------------------
mkdir -p session/bin && ln -s "$nbl" session/bin/nbl
between='/^<!-- session/ { on = !on; next } on && !/^```/'
awk "$between"' && /^\$ / { print substr($0, 3) }' "$here/../docs/nbl.md" > session.sh
awk "$between"' && !/^\$ /' "$here/../docs/nbl.md" > session-shows.txt
[ -s session.sh ] || fail "docs/nbl.md shows no session"
(cd session && PATH="$PWD/bin:$PATH" bash -e ../session.sh > ../session-printed.txt 2>&1) ||
  fail "the session of docs/nbl.md failed: $(cat session-printed.txt)"
diff session-shows.txt session-printed.txt >&2 || fail "the session of docs/nbl.md printed other lines"

# --- Bash completion ---------------------------------------------------------------------------------------
bash "$here/nbl_completion.sh" "$here/../tools/nbl.bash-completion" "$nbl" || fail "bash completion"

[ "$failures" = 0 ] && echo "all nbl checks passed"
exit $((failures > 0))
