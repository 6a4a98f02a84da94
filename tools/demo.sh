#!/usr/bin/env bash
# The demonstration: writes the sample bootloader (256 KiB, generated at build time) over JTAG
# into the simulated PXA270 module with one J3 StrataFlash, verifying every piece, keeps the
# module's flash in a file, and then compares that file with the image's records byte for byte.
set -euo pipefail
build=${1:-build}
root=$(cd "$(dirname "$0")/.." && pwd)
cmake --build "$build" --target dividezurirer samples >/dev/null
image="$build/samples/eboot.bin"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
flash="$work/pxa270-j3x16.flash"

echo "== dividezurirer bootloader $(basename "$image") --verify --target sim:pxa270-j3x16"
"$build/app/programs/dividezurirer" --settings "$work/settings.toml" \
  --target "sim:pxa270-j3x16,flash=$flash" bootloader "$image" --verify --yes

# Compare every record of the image with the flash file (the image starts at flash offset 0).
u32() { od -An -tu4 -j "$2" -N4 "$1" | tr -d ' '; }
start=$(u32 "$image" 7)
offset=15
records=0
while :; do
  address=$(u32 "$image" "$offset")
  length=$(u32 "$image" $((offset + 4)))
  [ "$address" -eq 0 ] && break
  if ! cmp -s <(tail -c +$((offset + 13)) "$image" | head -c "$length") \
              <(tail -c +$((address - start + 1)) "$flash" | head -c "$length"); then
    echo "demo: record at 0x$(printf %08x "$address") differs in the simulated flash" >&2
    exit 1
  fi
  records=$((records + 1))
  offset=$((offset + 12 + length))
done
echo "== the simulated flash holds all $records records of $(basename "$image") byte for byte"
