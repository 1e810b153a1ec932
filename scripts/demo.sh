#!/usr/bin/env bash
# The main job in one command: installs what is missing, builds what is missing, boots
# the virtual two-socket board on OVMF in QEMU with ipmi_sim and the BMC module behind its
# KCS interface, lets both drivers run, and shows what the management controller stored
# (decoded), its read-back over the simulator's LAN, and what the hot key did.
set -euo pipefail
cd "$(dirname "$0")/.."

source scripts/common.sh

usage() {
  cat <<USAGE
usage: scripts/demo.sh [--help]

Installs the Debian packages that are missing (scripts/setup.sh; needs root or sudo for
that), builds what is not built yet in $BUILD_DIR/ (the PE32+ images, the board harness,
the BMC module, roster-decode and debug-render), boots the virtual two-socket board on
OVMF in QEMU with both drivers and KcsTransport, with ipmi_sim and the BMC module behind
QEMU's KCS interface (it refuses the first two SATA_INFO messages, so Roster's retry
shows), presses Ctrl+Alt+d, checks what they did, and shows what the management
controller stored (decoded by roster-decode), its answer to \`ipmitool raw 0x32 0x5B\`
over the simulator's LAN, and the console notice of the hot key.

Takes about a minute on two cores the first time (building), then about 15 seconds a
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
step "building the images, the BMC module, the decoder and the transcript renderer (only what is missing)"
run_logged build "$BUILD_DIR/logs/demo-build.log" \
  cmake --build "$BUILD_DIR" -j"$JOBS" --target firmware_images roster_bmc roster-decode debug-render
decoder="$BUILD_DIR/tools/roster-decode/roster-decode"

EFI_DIR="$BUILD_DIR/efi"
out="$(mktemp -d)"
trap 'rm -rf "$out"' EXIT

step "booting the board: q35, 2 sockets, 6 DIMM slots, 2 PCI root bridges with 5 PCIe root ports, SATA 00:17.0 + sSATA 00:11.5"
status=0
python3 e2e/run_board.py \
  --harness "$EFI_DIR/BoardHarness.efi" \
  --roster "$EFI_DIR/Roster.efi" \
  --hotlatch "$EFI_DIR/Hotlatch.efi" \
  --kcs-transport "$EFI_DIR/KcsTransport.efi" \
  --bmc-module "$BUILD_DIR/bmc/roster_bmc.so" \
  --roster-decode "$decoder" \
  --debug-render "$BUILD_DIR/tools/debug-render/debug-render" \
  --bmc-state-out "$out/bmc" \
  --serial-out "$out/serial.log" \
  --failures-only || status=$?

echo
echo "=== What the management controller stored (roster-decode on its files) ==="
stored=()
for file in "$out"/bmc/inventory.bin "$out"/bmc/sata-*.bin; do
  [ -f "$file" ] && stored+=("$file")
done
if [ "${#stored[@]}" -gt 0 ]; then
  (cd "$out/bmc" && ls -l "${stored[@]##*/}" | awk '{print "  " $5 " bytes  " $NF}')
  "$decoder" "${stored[@]}" || echo "(roster-decode reported problems above)"
else
  echo "the BMC stored nothing"
fi

echo
echo "=== The BMC's read-back over its LAN interface ==="
if [ -s "$out/bmc/read-back.txt" ]; then
  cat "$out/bmc/read-back.txt"
else
  echo "(no read-back)"
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
