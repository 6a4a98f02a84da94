#!/usr/bin/env bash
# Writes a manual page from a program's own --help text, so the page and the program never
# disagree: the program's help, then the help of each of its commands, each kept verbatim.
#   help2roff.sh PROGRAM NAME VERSION OUT [SEE-ALSO...]
# PROGRAM runs as NAME (its argv[0]), which is how its usage lines name it once installed.
set -euo pipefail
program=$1 name=$2 version=$3 out=$4
shift 4

# In a sanitizer build a leak report would end the build here; the install test runs the same
# --help with leak checking on.
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0"

help_of() { (exec -a "$name" "$program" "$@" --help) </dev/null 2>&1; }

# The commands listed under "Subcommands:" in the help text, one per line.
commands_of() {
  awk '/^Subcommands:/ { inside = 1; next }
       inside && /^  [a-z]/ { print $1; next }
       inside && !/^   / { inside = 0 }' <<<"$1"
}

# A block of text shown as it is: backslashes and hyphens escaped, a leading dot or quote guarded.
verbatim() {
  printf '.nf\n'
  sed -e 's/\\/\\e/g' -e 's/-/\\-/g' -e "s/^\\([.']\\)/\\\\\\&\\1/" <<<"$1"
  printf '.fi\n'
}

main_help=$(help_of)
summary=$(head -n 1 <<<"$main_help" | sed -e 's/\\/\\e/g' -e 's/-/\\-/g')
upper=$(tr 'a-z' 'A-Z' <<<"$name")
{
  printf '.TH %s 1 "" "DividezUrirer %s" "User Commands"\n' "$upper" "$version"
  printf '.SH NAME\n%s \\- %s\n' "${name//-/\\-}" "$summary"
  printf '.SH DESCRIPTION\n'
  printf 'The text below is what \\fB%s \\-\\-help\\fR prints.\n' "${name//-/\\-}"
  verbatim "$main_help"
  commands=$(commands_of "$main_help")
  if [ -n "$commands" ]; then
    printf '.SH COMMANDS\n'
    for command in $commands; do
      printf '.SS %s %s\n' "${name//-/\\-}" "$command"
      verbatim "$(help_of "$command")"
    done
  fi
  if [ $# -gt 0 ]; then
    printf '.SH SEE ALSO\n'
    see=()
    for page in "$@"; do see+=("\\fB${page//-/\\-}\\fR(1)"); done
    (IFS=,; printf '%s\n' "${see[*]}" | sed 's/,/, /g')
  fi
} >"$out.tmp"
mv "$out.tmp" "$out"
