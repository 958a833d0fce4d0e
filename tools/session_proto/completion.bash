# bash completion for session-proto: commands, options and message type names.
_session_proto() {
  # Readline splits "--limit=2" and "linear=0.5" at '=': join them again.
  local words=() cword=0 i word
  for ((i = 0; i < ${#COMP_WORDS[@]}; i++)); do
    word=${COMP_WORDS[i]}
    if ((i > 1)) && [[ $word == "=" || ${COMP_WORDS[i - 1]} == "=" ]]; then
      words[${#words[@]} - 1]+=$word
    else
      words+=("$word")
    fi
    ((i == COMP_CWORD)) && cword=$((${#words[@]} - 1))
  done
  local cur=${words[cword]}
  local command="" operands=0
  for ((i = 1; i < cword; i++)); do
    word=${words[i]}
    case $word in
      --skip | --limit | --where | --fields) ((i++)) ;;
      -*) ;;
      *) if [[ -z $command ]]; then command=$word; else ((operands++)); fi ;;
    esac
  done
  case ${words[cword - 1]} in
    --skip | --limit | --where | --fields) return ;;
  esac
  local options
  case $command in
    "") COMPREPLY=($(compgen -W "types schema decode encode stats demo help --help --version" -- "$cur"))
      return ;;
    help) COMPREPLY=($(compgen -W "types schema decode encode stats demo help" -- "$cur")); return ;;
    schema) options="--descriptor-set --force" ;;
    decode) options="--hex --base64 --delimited --lines --follow --json --json-lines
                     --strict-json --annotate --raw --fields --csv --tsv --unbuffered --skip
                     --limit --where --exit-status --keep-going --partial" ;;
    encode) options="--json --json-lines --hex --base64 --delimited --lines --force
                     --unbuffered --partial" ;;
    stats) options="--hex --base64 --delimited --lines --json --skip --limit --where
                    --keep-going --partial" ;;
  esac
  if [[ $cur == -* ]]; then
    COMPREPLY=($(compgen -W "$options --help" -- "$cur"))
  elif [[ $command == decode && " ${words[*]} " == *" --raw "* ]]; then
    COMPREPLY=($(compgen -f -- "$cur"))  # no TYPE: the operand is a file
  elif [[ $command == @(schema|decode|encode|stats) && $operands -eq 0 ]]; then
    local types
    types=$("${words[0]}" types 2>/dev/null | awk '/^  / { print $1 }')
    COMPREPLY=($(compgen -W "$types" -- "$cur"))
  elif [[ $command == @(decode|encode|stats) && $operands -eq 1 ]]; then
    COMPREPLY=($(compgen -f -- "$cur"))
  fi
}
complete -o filenames -F _session_proto session-proto
