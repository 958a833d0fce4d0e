# bash completion for session-proto: commands, options and message type names.
_session_proto() {
  local cur=${COMP_WORDS[COMP_CWORD]}
  local command="" operands=0 i word
  for ((i = 1; i < COMP_CWORD; i++)); do
    word=${COMP_WORDS[i]}
    case $word in
      --skip | --limit | --where) ((i++)) ;;
      -*) ;;
      *) if [[ -z $command ]]; then command=$word; else ((operands++)); fi ;;
    esac
  done
  case ${COMP_WORDS[COMP_CWORD - 1]} in
    --skip | --limit | --where) return ;;
  esac
  local options
  case $command in
    "") COMPREPLY=($(compgen -W "types schema decode encode stats demo help --help --version" -- "$cur"))
      return ;;
    help) COMPREPLY=($(compgen -W "types schema decode encode stats demo help" -- "$cur")); return ;;
    schema) options="--descriptor-set" ;;
    decode) options="--hex --base64 --delimited --lines --json --json-lines --annotate --skip
                     --limit --where --keep-going --partial" ;;
    encode) options="--json --json-lines --hex --base64 --delimited --lines --partial" ;;
    stats) options="--hex --base64 --delimited --lines" ;;
  esac
  if [[ $cur == -* ]]; then
    COMPREPLY=($(compgen -W "$options --help" -- "$cur"))
  elif [[ $command == @(schema|decode|encode|stats) && $operands -eq 0 ]]; then
    local types
    types=$("${COMP_WORDS[0]}" types 2>/dev/null | awk '/^  / { print $1 }')
    COMPREPLY=($(compgen -W "$types" -- "$cur"))
  elif [[ $command == @(decode|encode|stats) && $operands -eq 1 ]]; then
    COMPREPLY=($(compgen -f -- "$cur"))
  fi
}
complete -o filenames -F _session_proto session-proto
