#!/usr/bin/env bash
# Builds Roster.efi and Hotlatch.efi and boots them on real firmware (OVMF in QEMU): the
# harness application loads and starts both drivers and reports each step.
set -euo pipefail
cd "$(dirname "$0")/.."

JOBS="${JOBS:-2}"
BUILD_DIR="${BUILD_DIR:-build}"

bash scripts/setup.sh

cmake -S . -B "$BUILD_DIR" -DHOST_SANITIZERS=ON -DCMAKE_CXX_COMPILER="${CXX:-clang++}"
cmake --build "$BUILD_DIR" -j"$JOBS" --target firmware_images

EFI_DIR="$BUILD_DIR/efi"
echo
echo "Images:"
ls -l "$EFI_DIR"/Roster.efi "$EFI_DIR"/Hotlatch.efi
echo
echo "Booting OVMF in QEMU (TCG); the harness reports on the serial port:"
exec python3 e2e/run_smoke.py \
  --harness "$EFI_DIR/SmokeHarness.efi" \
  --roster "$EFI_DIR/Roster.efi" \
  --hotlatch "$EFI_DIR/Hotlatch.efi"
