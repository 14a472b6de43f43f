#!/usr/bin/env bash
# nbl on large inputs, in one run: the time `nbl convert` takes to read 16,777,216 shuffled values (140 MB of
# text) into an .nbl file beside the time `wc -l` takes on the same file, and the peak memory of reading a
# 120 MB text that holds one value, and of `nbl info` and `nbl list` on an .nbl file of 8,388,608 one-member
# blocks (75 MB; the set takes 288 MiB).
# Each time is the best of three runs; peaks come from /usr/bin/time (GNU time, Debian's package `time`).
#   bench/nbl_text_bench.sh [PATH/TO/nbl [WORK_FOLDER]]
# The inputs are made once in WORK_FOLDER (build/nbl-bench by default, about 400 MB) and kept for later runs.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
nbl="$(realpath "${1:-$root/build/release/tools/nbl}")"
work="${2:-$root/build/nbl-bench}"
mkdir -p "$work" && cd "$work"

if [ ! -s shuffled.txt ]; then
  echo "making shuffled.txt: 0 to 16777215 in a fixed random order"
  seq 0 16777215 | shuf --random-source=<(yes) > shuffled.txt
fi
if [ ! -s one-value.txt ]; then
  echo "making one-value.txt: 60,000,000 lines of 7"
  head -n 60000000 < <(yes 7) > one-value.txt
fi
if [ ! -s sparse.nbl ]; then
  echo "making sparse.nbl: every 256th value from 0, one member a block"
  seq 0 256 2147483647 > sparse.txt
  "$nbl" convert sparse.txt sparse.nbl
  rm sparse.txt
fi

# best_of_three COMMAND...: the shortest wall time of three runs, in seconds.
best_of_three() {
  local best="" start end took
  for _ in 1 2 3; do
    start=$(date +%s%N)
    "$@" > /dev/null
    end=$(date +%s%N)
    took=$(((end - start) / 1000))
    if [ -z "$best" ] || [ "$took" -lt "$best" ]; then best=$took; fi
  done
  printf '%d.%06d' $((best / 1000000)) $((best % 1000000))
}
# peak COMMAND...: the largest resident set of one run, in MiB.
peak() {
  /usr/bin/time -f %M -o peak.txt "$@" > /dev/null
  echo "$(($(cat peak.txt) / 1024)) MiB"
}

echo "nbl: $nbl ($("$nbl" --version))"
echo "inputs: shuffled.txt $(stat -c %s shuffled.txt) bytes, one-value.txt $(stat -c %s one-value.txt) bytes," \
  "sparse.nbl $(stat -c %s sparse.nbl) bytes"
wc_time=$(best_of_three wc -l shuffled.txt)
convert_time=$(best_of_three "$nbl" convert shuffled.txt shuffled.nbl)
echo "wc -l shuffled.txt:                     $wc_time s"
echo "nbl convert shuffled.txt shuffled.nbl:  $convert_time s ($(echo "scale=1; $convert_time / $wc_time" |
  bc) times wc -l)"
echo "peak of nbl info one-value.txt:         $(peak "$nbl" info one-value.txt)"
echo "peak of nbl info sparse.nbl:            $(peak "$nbl" info sparse.nbl)"
echo "peak of nbl list sparse.nbl:            $(peak "$nbl" list sparse.nbl) (the set: 288 MiB)"
