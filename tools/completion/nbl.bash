# bash completion for nbl: the subcommands, each one's options, the formats after --from and --to, the
# operations of combine, and file names everywhere else. Installed as share/bash-completion/completions/nbl,
# where bash-completion loads it the first time nbl is completed; it needs nothing of bash-completion.

_nbl() {
  local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]}
  local command="" operands=0 i word
  COMPREPLY=()

  # The subcommand, and how many operands follow it before the word being completed.
  for ((i = 1; i < COMP_CWORD; i++)); do
    word=${COMP_WORDS[i]}
    case $word in
      --from | --to | --max-blocks) ((i++)) ;;
      -?*) ;;
      *) if [[ -z $command ]]; then command=$word; else ((operands++)); fi ;;
    esac
  done

  case $prev in
    --from | --to)
      mapfile -t COMPREPLY < <(compgen -W "nbl roaring text" -- "$cur")
      return
      ;;
    --max-blocks) return ;;
  esac

  if [[ -z $command ]]; then
    mapfile -t COMPREPLY < <(compgen -W "info list convert combine check --help --version" -- "$cur")
    return
  fi
  if [[ $cur == -?* ]]; then
    local options="--help --from --max-blocks"
    [[ $command == convert || $command == combine ]] && options+=" --to"
    mapfile -t COMPREPLY < <(compgen -W "$options" -- "$cur")
    return
  fi
  if [[ $command == combine && $operands -eq 0 ]]; then
    mapfile -t COMPREPLY < <(compgen -W "intersect unite subtract invert" -- "$cur")
    return
  fi
  compopt -o filenames 2> /dev/null
  mapfile -t COMPREPLY < <(compgen -f -- "$cur")
}
complete -F _nbl nbl
