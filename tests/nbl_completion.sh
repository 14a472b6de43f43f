#!/usr/bin/env bash
# Checks nbl's bash completion against nbl itself: the subcommands it offers as the first word are those
# `nbl --help` lists, the options it offers after each subcommand are those its --help lists, and it offers
# the formats after --to and the operations after combine.
#   nbl_completion.sh NBL COMPLETION_SCRIPT
set -euo pipefail
nbl=$1
# shellcheck source=../tools/completion/nbl.bash
source "$2"

# The completions of the words given to nbl, the last one being the word completed, sorted.
offered() {
  COMP_WORDS=(nbl "$@")
  COMP_CWORD=$#
  _nbl
  printf '%s\n' "${COMPREPLY[@]}" | sort
}
sorted() { printf '%s\n' "$@" | sort; }
long_options() { grep -o -- '--[a-z][a-z-]*' | sort -u; }
expect() {
  if [ "$2" != "$3" ]; then
    printf '%s: nbl has\n%s\nbut the completion offers\n%s\n' "$1" "$2" "$3" >&2
    exit 1
  fi
}

commands=$("$nbl" --help | sed -n '/^Subcommands:/,$ s/^  \([a-z][a-z]*\) .*/\1/p' | sort)
[ -n "$commands" ] || { echo "nbl --help lists no subcommands" >&2; exit 1; }
# shellcheck disable=SC2086
expect "the first word" "$(sorted $commands --help --version)" "$(offered "")"
for command in $commands; do
  expect "the options of $command" "$("$nbl" "$command" --help | long_options)" "$(offered "$command" --)"
done
expect "the formats after --to" "$(sorted nbl roaring text)" "$(offered convert in.txt --to "")"
expect "the operations of combine" "$(sorted intersect invert subtract unite)" "$(offered combine "")"
echo "the completion offers what nbl takes"
