#!/usr/bin/env bash
# Builds everything (host drivers, simulator, tests and the PE32+ images) and the OVMF
# platform that carries the drivers, then runs every test, the real-firmware boots
# included. Exits with ctest's status.
set -euo pipefail
cd "$(dirname "$0")/.."

JOBS="${JOBS:-2}"
BUILD_DIR="${BUILD_DIR:-build}"

bash scripts/setup.sh

started=$SECONDS
cmake -S . -B "$BUILD_DIR" -DHOST_SANITIZERS=ON -DCMAKE_CXX_COMPILER="${CXX:-clang++}"
cmake --build "$BUILD_DIR" -j"$JOBS"
echo "test: build took $((SECONDS - started)) s"

# The platform build the e2e_firmware test boots: first time the EDK II source, BaseTools
# and OVMF, afterwards only what changed of ours (cached outside the tree).
started=$SECONDS
BUILD_DIR="$BUILD_DIR" bash scripts/firmware.sh --build-only --no-build-images
echo "test: firmware build took $((SECONDS - started)) s"
# The drivers' size on flash, for the log; ctest's image_size_budget holds the budget.
python3 packaging/image_budget.py "$BUILD_DIR/efi/Roster.efi" "$BUILD_DIR/efi/Hotlatch.efi" | sed 's/^/test: /' || true

started=$SECONDS
status=0
ctest --test-dir "$BUILD_DIR" --output-on-failure -j"$JOBS" || status=$?
echo "test: tests took $((SECONDS - started)) s"
exit "$status"
