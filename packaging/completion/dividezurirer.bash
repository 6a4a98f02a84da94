# bash completion for dividezurirer, dividezurirer-sim and dividezurirer-cebin.
# Commands, options and simulated modules are read from the programs' own --help, so the
# completion always matches the installed programs.

# The options in a help text, one per line.
_dividezurirer_options() {
  "$@" --help 2>/dev/null | grep -oE -- '(^|[ ,])--?[A-Za-z][-A-Za-z0-9]*' | tr -d ' ,' | sort -u
}

# The commands listed under "Subcommands:".
_dividezurirer_commands() {
  "$@" --help 2>/dev/null | awk '/^Subcommands:/ { inside = 1; next }
    inside && /^  [a-z]/ { print $1; next }
    inside && !/^   / { inside = 0 }'
}

# The simulated modules that --target accepts, as sim:NAME.
_dividezurirer_targets() {
  "$1" --help 2>/dev/null | awk '/^Simulated modules/ { inside = 1; next }
    inside && /^  [a-z0-9]/ { print "sim:" $1; next }
    inside { inside = 0 }'
}

_dividezurirer() {
  local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]}
  local program=${COMP_WORDS[0]} command="" i word
  # The command is the first word that is neither an option nor an option's value.
  for ((i = 1; i < COMP_CWORD; i++)); do
    word=${COMP_WORDS[i]}
    case $word in
      --target | --port | --settings) ((i++)) ;;
      -*) ;;
      *) command=$word; break ;;
    esac
  done
  COMPREPLY=()
  case $prev in
    --target)
      mapfile -t COMPREPLY < <(compgen -W "$(_dividezurirer_targets "$program")" -- "$cur")
      return ;;
    --settings | --port-file | --record | -o | --output)
      compopt -o filenames 2>/dev/null
      mapfile -t COMPREPLY < <(compgen -f -- "$cur")
      return ;;
  esac
  if [[ $cur == -* ]]; then
    mapfile -t COMPREPLY < <(compgen -W "$(_dividezurirer_options "$program" $command)" -- "$cur")
  elif [[ -z $command ]] && [[ -n $(_dividezurirer_commands "$program") ]]; then
    mapfile -t COMPREPLY < <(compgen -W "$(_dividezurirer_commands "$program")" -- "$cur")
  else
    compopt -o filenames 2>/dev/null
    mapfile -t COMPREPLY < <(compgen -f -- "$cur")
  fi
}
complete -F _dividezurirer dividezurirer dividezurirer-sim dividezurirer-cebin
