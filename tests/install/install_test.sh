#!/usr/bin/env bash
# Installs the build into a scratch DESTDIR and uses only what was installed: the layout, the
# programs' --help, the demo (sample image made by the installed image tool, written over JTAG
# into a simulated module, flash compared record by record), the manual pages against the
# programs' help, the bash and zsh completion, and the doctor.
#   install_test.sh BUILD SOURCE
set -euo pipefail
build=$1 source=$2
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
fail() { echo "install test: $*" >&2; exit 1; }

DESTDIR=$stage cmake --install "$build" >"$stage/install.log"
prefix=$(sed -n 's/^CMAKE_INSTALL_PREFIX:PATH=//p' "$build/CMakeCache.txt")
root=$stage$prefix
programs=(dividezurirer dividezurirer-sim dividezurirer-cebin)

# The layout.
expected=(share/doc/dividezurirer/README.md share/bash-completion/completions/dividezurirer)
for p in "${programs[@]}"; do
  expected+=("bin/$p" "share/man/man1/$p.1.gz" "share/bash-completion/completions/$p")
done
[ -f "$source/udev/60-dividezurirer.rules" ] && expected+=(lib/udev/rules.d/60-dividezurirer.rules)
for page in "$source"/help/html/*.htm; do
  [ -f "$page" ] && expected+=("share/doc/dividezurirer/html/$(basename "$page")")
done
for f in "${expected[@]}"; do [ -e "$root/$f" ] || fail "$f was not installed"; done
zsh_file=$(find "$root/share/zsh" -name _dividezurirer | head -n 1)
[ -n "$zsh_file" ] || fail "the zsh completion was not installed"
for p in "${programs[@]}"; do [ -x "$root/bin/$p" ] || fail "bin/$p is not executable"; done
echo "-- ${#expected[@]} files in place under $prefix"

# From here on only the installed programs, found on PATH as a user finds them.
export PATH=$root/bin:$PATH
work=$stage/work
mkdir -p "$work"
cd "$work"
dividezurirer --help >help.txt
grep -q '^Usage: dividezurirer ' help.txt || fail "dividezurirer --help shows no usage"
grep -q '^  doctor ' help.txt || fail "dividezurirer --help does not list doctor"

# The demo: the sample bootloader written over JTAG into a simulated PXA270 with J3 flash.
dividezurirer-cebin sample eboot.bin --start 0x80000000 --length 0x40000 --records 4 --seed 1 \
  >/dev/null
dividezurirer --settings settings.toml --target sim:pxa270-j3x16,flash=j3.flash \
  bootloader eboot.bin --verify --yes >demo.log 2>&1 || { cat demo.log; fail "the demo failed"; }
u32() { od -An -tu4 -j "$2" -N4 "$1" | tr -d ' '; }
start=$(u32 eboot.bin 7) offset=15 records=0
while :; do
  address=$(u32 eboot.bin "$offset") length=$(u32 eboot.bin $((offset + 4)))
  [ "$address" -eq 0 ] && break
  cmp -s <(tail -c +$((offset + 13)) eboot.bin | head -c "$length") \
    <(tail -c +$((address - start + 1)) j3.flash | head -c "$length") ||
    fail "record at $address differs in the simulated flash"
  records=$((records + 1)) offset=$((offset + 12 + length))
done
[ "$records" -eq 4 ] || fail "the demo image has $records records, not 4"
echo "-- demo: all $records records of the sample bootloader are in the simulated flash"

# Each manual page holds exactly the help texts its program prints, in the same order.
commands_of() {
  awk '/^Subcommands:/ { inside = 1; next }
       inside && /^  [a-z]/ { print $1; next }
       inside && !/^   / { inside = 0 }'
}
for p in "${programs[@]}"; do
  page=$root/share/man/man1/$p.1.gz
  {
    printf '%s\n----\n' "$("$p" --help 2>&1)"
    for c in $("$p" --help | commands_of); do
      printf '%s\n----\n' "$("$p" "$c" --help 2>&1)"
    done
  } >"$p.help" 2>&1
  zcat "$page" | awk '/^\.nf$/ { inside = 1; next } /^\.fi$/ { inside = 0; print "----"; next }
                      inside' | sed -e 's/^\\&//' -e 's/\\-/-/g' -e 's/\\e/\\/g' >"$p.man"
  diff -u "$p.help" "$p.man" || fail "the manual page of $p differs from its --help"
  zcat "$page" | sed -n 1p | grep -q '^\.TH ' || fail "$p.1 does not begin with its title line"
  if command -v groff >/dev/null; then
    warnings=$(zcat "$page" | groff -man -Tutf8 -ww -z 2>&1)
    [ -z "$warnings" ] || fail "groff warns about $p.1: $warnings"
  fi
done
echo "-- the manual pages agree with the programs' help"

# bash completion, as bash runs it for a word being completed.
complete_bash() {
  local line=$1
  bash -c 'source "$1"; read -ra COMP_WORDS <<<"$2"; [[ $2 == *" " ]] && COMP_WORDS+=("");
           COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); _dividezurirer 2>/dev/null;
           printf "%s\n" "${COMPREPLY[@]}"' _ \
    "$root/share/bash-completion/completions/dividezurirer" "$line"
}
expect_completion() {
  local shell=$1 line=$2 want=$3 got
  got=$("complete_$shell" "$line")
  grep -qx -- "$want" <<<"$got" || fail "$shell completes '$line' without '$want' (got: $got)"
}
expect_completion bash "dividezurirer doc" doctor
expect_completion bash "dividezurirer --yes boot" bootloader
expect_completion bash "dividezurirer bootloader --ver" --verify
expect_completion bash "dividezurirer --target sim:pxa270-j" sim:pxa270-j3x16
expect_completion bash "dividezurirer --target sim:x bootloader --ver" --verify
expect_completion bash "dividezurirer-cebin sa" sample
expect_completion bash "dividezurirer-sim --port-" --port-file
[ -z "$(complete_bash "dividezurirer bootloader nosuchfile")" ] ||
  fail "bash completes a file that does not exist"

# zsh completion, with zsh's completion builtins replaced by ones that print what they offer.
complete_zsh() {
  zsh -f -c 'compadd() { [[ $1 == -a ]] && print -l -- ${(P)2}; };
             _describe() { print -l -- ${(P)2%%:*}; }; _files() { print -- "(files)"; };
             _call_program() { shift; "$@"; };
             words=(${=2}); [[ $2 == *" " ]] && words+=(""); CURRENT=$#words;
             PREFIX=$words[CURRENT]; source "$1"' _ "$zsh_file" "$1" | grep -v '^$' || true
}
if command -v zsh >/dev/null; then
  expect_completion zsh "dividezurirer doc" doctor
  expect_completion zsh "dividezurirer bootloader --ver" --verify
  expect_completion zsh "dividezurirer --target " sim:pxa270-j3x16
  expect_completion zsh "dividezurirer-cebin " sample
  expect_completion zsh "dividezurirer bootloader " "(files)"
  echo "-- bash and zsh complete commands, options and simulated modules"
else
  echo "-- bash completes commands, options and simulated modules (no zsh here)"
fi

# The doctor: four checks, each OK or NOT READY with its fix, and the exit status says which.
status=0
dividezurirer doctor >doctor.txt || status=$?
[ "$(grep -cE ': (OK|NOT READY)$' doctor.txt)" -eq 4 ] || { cat doctor.txt; fail "doctor did not report 4 checks"; }
if grep -q 'NOT READY$' doctor.txt; then want=1; else want=0; fi
[ "$status" -eq "$want" ] || fail "doctor exited $status with this report: $(cat doctor.txt)"
nfix=$(grep -c '^  fix: ' doctor.txt || true)
[ "$want" -eq 0 ] || [ "$nfix" -gt 0 ] || fail "doctor reports a problem without a fix"
# The installed udev rules are where the doctor looks for them.
if [ -f "$root/lib/udev/rules.d/60-dividezurirer.rules" ] &&
   [ ! -f /etc/udev/rules.d/60-dividezurirer.rules ] && [ ! -f /lib/udev/rules.d/60-dividezurirer.rules ] &&
   [ ! -f /usr/lib/udev/rules.d/60-dividezurirer.rules ]; then
  grep -q "sudo install -m 0644 $root/lib/udev/rules.d/60-dividezurirer.rules /etc/udev" doctor.txt ||
    fail "doctor does not name the installed rules file"
fi
echo "-- doctor reports $(grep -c 'NOT READY$' doctor.txt || true) check(s) not ready, exit status $status"
