#!/usr/bin/env bash
# The main job in one command: installs what is missing, builds what is missing, boots
# the virtual two-socket board on OVMF in QEMU, lets both drivers run, and shows what
# the management controller received (decoded) and what the hot key did.
set -euo pipefail
cd "$(dirname "$0")/.."

source scripts/common.sh

usage() {
  cat <<USAGE
usage: scripts/demo.sh [--help]

Installs the Debian packages that are missing (scripts/setup.sh; needs root or sudo for
that), builds what is not built yet in $BUILD_DIR/ (the PE32+ images, the board harness,
roster-decode and debug-render), boots the virtual two-socket board on OVMF in QEMU with
both drivers, presses Ctrl+Alt+d, checks what they did, and shows the decoded view of
the management controller and the console notice of the hot key.

Takes about a minute on two cores the first time (building), then about 10 seconds a
run: QEMU emulates the board under TCG, without KVM. Build output goes to
$BUILD_DIR/logs/; a line every 15 seconds shows progress.

$ENVIRONMENT_HELP
USAGE
}

only_help_argument "$@"

started=$(date +%s%N)
elapsed() { local ms=$(( ($(date +%s%N) - started) / 1000000 )); printf '%3d.%01ds' $((ms / 1000)) $(((ms % 1000) / 100)); }
step() { echo "[$(elapsed)] $*"; }

step "checking packages"
bash scripts/setup.sh

# The board harness image comes only with a build that has tests.
if [ ! -f "$BUILD_DIR/CMakeCache.txt" ] || grep -q '^BUILD_TESTING:BOOL=OFF' "$BUILD_DIR/CMakeCache.txt"; then
  step "configuring $BUILD_DIR"
  run_logged configure "$BUILD_DIR/logs/configure.log" \
    configure_build "$BUILD_DIR"
fi
step "building the images and the transcript renderer (only what is missing)"
run_logged build "$BUILD_DIR/logs/demo-build.log" \
  cmake --build "$BUILD_DIR" -j"$JOBS" --target firmware_images debug-render
decoder="$BUILD_DIR/tools/roster-decode/roster-decode"
step "building the decoder (only if missing)"
if ! run_logged build "$BUILD_DIR/logs/demo-decoder.log" cmake --build "$BUILD_DIR" -j"$JOBS" --target roster-decode; then
  step "roster-decode did not build; the BMC view will be shown raw"
fi

EFI_DIR="$BUILD_DIR/efi"
out="$(mktemp -d)"
trap 'rm -rf "$out"' EXIT

step "booting the board: q35, 2 sockets, 6 DIMM slots, 2 PCI root bridges with 5 PCIe root ports, SATA 00:17.0 + sSATA 00:11.5"
status=0
python3 e2e/run_board.py \
  --harness "$EFI_DIR/BoardHarness.efi" \
  --roster "$EFI_DIR/Roster.efi" \
  --hotlatch "$EFI_DIR/Hotlatch.efi" \
  --debug-render "$BUILD_DIR/tools/debug-render/debug-render" \
  --bmc-out "$out/bmc.txt" \
  --serial-out "$out/serial.log" \
  --failures-only || status=$?

echo
echo "=== What the management controller received ==="
if [ -x "$decoder" ] && [ -s "$out/bmc.txt" ]; then
  "$decoder" "$out/bmc.txt" || echo "(roster-decode reported problems above)"
elif [ -s "$out/bmc.txt" ]; then
  echo "roster-decode is not built ($decoder missing); raw BMC calls:"
  cut -c1-160 "$out/bmc.txt"
else
  echo "no BMC calls were captured"
fi

echo
echo "=== Console notice on the serial port ==="
grep -a -o "Ready to debug mode \.\.\." "$out/serial.log" | head -1 || echo "(none)"

echo
if [ "$status" -eq 0 ]; then
  step "demo finished: every check passed"
else
  step "demo finished: some checks FAILED (see above)"
fi
exit "$status"
