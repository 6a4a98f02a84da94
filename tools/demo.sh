#!/usr/bin/env bash
# The demonstration: writes a sample bootloader over JTAG and a sample OS image over Ethernet
# into the simulated module, then compares the module's flash with the images byte for byte.
# The download paths are still being built; until they are, this only says what it will do.
set -euo pipefail
build=${1:-build}
cat <<TEXT
DividezUrirer demo (not yet available):
  1. generate eboot.bin and nk.bin in $build/samples
  2. dividezurirer bootloader eboot.bin --via jtag --target sim:pxa270   (StrataFlash over JTAG)
  3. dividezurirer image nk.bin --via ethernet --target sim:pxa270      (BOOTME + TFTP)
  4. compare the simulated flash with both images
TEXT
