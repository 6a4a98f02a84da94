#!/usr/bin/env bash
# Fails when a folder of the system includes a header of a layer above it.
# Layers, bottom to top (a folder may include its own layer and the layers below):
#   0 platform/ resources/ state/
#   1 image/ jtag/
#   2 bscan/
#   3 download/ (the job and the interface record contract)
#   4 flash/ serial/ ethernet/ (the interface records)
#   5 download/table/ (the table of records)
#   6 app/ (dialogs, start-up, command line) and sim/ as seen from above
#   7 tools/
# sim/ models hardware: it includes only sim/ and platform/. tests/ and bench/ may include anything.
set -euo pipefail
cd "${1:-$(dirname "$0")/..}"

# layer PATH: the layer of a file or include path, or nothing when it is not a system folder.
layer() {
  case $1 in
    platform/* | resources/* | state/*) echo 0 ;;
    image/* | jtag/*) echo 1 ;;
    bscan/*) echo 2 ;;
    download/table/*) echo 5 ;;
    download/*) echo 3 ;;
    flash/* | serial/* | ethernet/*) echo 4 ;;
    app/* | sim/*) echo 6 ;;
    tools/*) echo 7 ;;
  esac
}

bad=0
count=0
while IFS= read -r -d '' file; do
  from=$(layer "$file")
  while IFS= read -r inc; do
    to=$(layer "$inc")
    [ -n "$to" ] || continue
    count=$((count + 1))
    case $file in
      sim/*)
        case $inc in
          sim/* | platform/*) continue ;;
        esac
        echo "$file includes $inc: the simulator depends on platform/ only"
        bad=1
        continue
        ;;
    esac
    if [ "$to" -gt "$from" ]; then
      echo "$file (layer $from) includes $inc (layer $to), a layer above it"
      bad=1
    fi
  done < <(sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"\([^"]*\)".*/\1/p' "$file")
done < <(find platform resources state image jtag bscan download flash serial ethernet app sim \
  tools -type f \( -name '*.h' -o -name '*.cpp' \) -print0 2>/dev/null)

[ "$bad" -eq 0 ] || exit 1
echo "-- layers: $count includes between system folders, none upward"
