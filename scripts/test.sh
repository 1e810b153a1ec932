#!/usr/bin/env bash
# Builds everything (host drivers, simulator, tests and the PE32+ images) and the OVMF
# platform that carries the drivers, then runs every test, the real-firmware boots
# included. Exits with ctest's status.
set -euo pipefail
cd "$(dirname "$0")/.."

source scripts/common.sh

usage() {
  cat <<USAGE
usage: scripts/test.sh [--help]

Installs the Debian packages that are missing (scripts/setup.sh; needs root or sudo for
that), configures and builds everything in $BUILD_DIR/ (the drivers and the simulator for
the host with sanitizers, the PE32+ images and the test harness images, the tools, the
GoogleTest suites and the fuzzers), builds OVMF from Debian's EDK II source twice with
the drivers in its firmware volume, without and with SMM (scripts/firmware.sh, cached
outside the tree), then runs every ctest test: unit and simulator tests, bounded fuzzer
runs, the smoke boot, the virtual board on OVMF in QEMU with ipmi_sim as its BMC and its
faults, the same board on both platform builds and an operating system (Debian's kernel)
booted on each.

From an empty build directory and an empty firmware cache, expect about half an hour on
two cores: a few minutes to build ours, most of the rest for the EDK II source, BaseTools
and the two OVMF builds, and about two minutes for the tests (each boot under TCG, no KVM,
is 10 to 20 seconds). With both firmwares cached and the build present, a rerun takes
about three minutes.
Build and test output goes to $BUILD_DIR/logs/; a line every 15 seconds shows progress.

$ENVIRONMENT_HELP
USAGE
}

only_help_argument "$@"

bash scripts/setup.sh

started=$SECONDS
echo "test: configuring $BUILD_DIR"
run_logged configure "$BUILD_DIR/logs/configure.log" \
  configure_build "$BUILD_DIR"
echo "test: building (output in $BUILD_DIR/logs/build.log)"
run_logged build "$BUILD_DIR/logs/build.log" cmake --build "$BUILD_DIR" -j"$JOBS"
echo "test: build took $((SECONDS - started)) s"

# The platform build the e2e_firmware test boots: first time the EDK II source, BaseTools
# and OVMF, afterwards only what changed of ours (cached outside the tree).
started=$SECONDS
BUILD_DIR="$BUILD_DIR" bash scripts/firmware.sh --build-only --no-build-images
echo "test: firmware build took $((SECONDS - started)) s"
# The SMM platform the e2e_firmware_smm test boots, cached beside the first.
started=$SECONDS
BUILD_DIR="$BUILD_DIR" bash scripts/firmware.sh --smm --build-only --no-build-images
echo "test: SMM firmware build took $((SECONDS - started)) s"
# The drivers' size on flash, for the log; ctest's image_size_budget holds the budget.
python3 packaging/image_budget.py "$BUILD_DIR/efi/Roster.efi" "$BUILD_DIR/efi/Hotlatch.efi" | sed 's/^/test: /' || true

started=$SECONDS
status=0
ctest --test-dir "$BUILD_DIR" --output-on-failure -j"$JOBS" || status=$?
echo "test: tests took $((SECONDS - started)) s"
exit "$status"
