#!/usr/bin/env bash
# Drives nbl's bash completion as bash does, and checks that it offers the subcommands and the long options
# that nbl's --help lists.
#   nbl_completion.sh PATH/TO/nbl.bash-completion PATH/TO/nbl   (run in a folder it may write to)
set -u
source "$1"
nbl=$2
failures=0
# offers "WORDS TYPED" "EXPECTED, sorted and space-separated": completes the last word of the line.
offers() {
  read -r -a COMP_WORDS <<< "$1"
  [[ $1 == *" " ]] && COMP_WORDS+=("")
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  _nbl
  local got
  got=$(printf '%s\n' "${COMPREPLY[@]}" | sort | xargs)
  [ "$got" = "$2" ] || { echo "FAILED: completing [$1] offered [$got], not [$2]" >&2; failures=$((failures + 1)); }
}

subcommands=$("$nbl" --help | sed -n '/^Subcommands:/,/^$/s/^  \([a-z]*\) .*/\1/p' | sort | xargs)
offers "nbl " "$subcommands"
offers "nbl co" "combine compare convert count"
offers "nbl help li" "list"
offers "nbl combine " "intersect invert subtract unite"
offers "nbl compare --is su" "subset superset"
offers "nbl convert --to " "nbl roaring text"
offers "nbl list --r" "--ranges"
mkdir -p completion && touch completion/ids.nbl completion/ids.txt completion/other.roaring
offers "nbl unite completion/i" "completion/ids.nbl completion/ids.txt"
offers "nbl combine unite completion/o" "completion/other.roaring"
offers "nbl compare --is equal completion/ids.n" "completion/ids.nbl"
for command in $subcommands; do
  long=$("$nbl" "$command" --help | sed -n '/^Options:/,/^$/p' | grep -o -- '--[a-z-]*' | sort -u | xargs)
  offers "nbl $command --" "$long"
done
exit $((failures > 0))
