#!/usr/bin/env bash
# Builds everything (host drivers, simulator, tests and the PE32+ images) and runs every
# test, the real-firmware smoke boot included. Exits with ctest's status.
set -euo pipefail
cd "$(dirname "$0")/.."

JOBS="${JOBS:-2}"
BUILD_DIR="${BUILD_DIR:-build}"

bash scripts/setup.sh

started=$SECONDS
cmake -S . -B "$BUILD_DIR" -DHOST_SANITIZERS=ON -DCMAKE_CXX_COMPILER="${CXX:-clang++}"
cmake --build "$BUILD_DIR" -j"$JOBS"
echo "test: build took $((SECONDS - started)) s"

started=$SECONDS
status=0
ctest --test-dir "$BUILD_DIR" --output-on-failure -j"$JOBS" || status=$?
echo "test: tests took $((SECONDS - started)) s"
exit "$status"
