# bash completion for quenfold-verify.
#
# Subcommands and their options are read from the tool's own --help, so the
# completion always matches the installed version. A value starting with @
# completes as a file name.
_quenfold_verify() {
  local cur prev cmd i words
  cur="${COMP_WORDS[COMP_CWORD]}"
  prev=""
  [ "$COMP_CWORD" -gt 0 ] && prev="${COMP_WORDS[COMP_CWORD-1]}"
  local tool="${COMP_WORDS[0]}"

  cmd=""
  for ((i = 1; i < COMP_CWORD; i++)); do
    case "${COMP_WORDS[i]}" in
      -*) ;;
      *) cmd="${COMP_WORDS[i]}"; break ;;
    esac
  done

  if [[ "$cur" == @* ]]; then
    local IFS=$'\n'
    COMPREPLY=($(compgen -f -P @ -- "${cur#@}"))
    return 0
  fi

  if [ -z "$cmd" ]; then
    words="$("$tool" --help 2>/dev/null | awk '/^Subcommands:/ {s=1; next} s && /^  [a-z]/ {print $1} s && /^$/ {s=0}')"
    words="$words --help --version --json"
  else
    # An option that takes a value: offer nothing but files after @.
    case "$prev" in
      --json|--help|-h) ;;
      --*) return 0 ;;
    esac
    words="$("$tool" "$cmd" --help 2>/dev/null | awk '/^Options:/ {s=1; next} s && /^  -/ {n=split($1, a, ","); print a[n]} s && /^$/ {s=0}')"
    words="$words --json"
  fi
  COMPREPLY=($(compgen -W "$words" -- "$cur"))
}
complete -F _quenfold_verify quenfold-verify
