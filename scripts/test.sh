#!/usr/bin/env bash
# Builds everything (host drivers, simulator, tests and the PE32+ images) and runs every
# test, the real-firmware runs included. Exits with ctest's status.
set -euo pipefail
cd "$(dirname "$0")/.."

JOBS="${JOBS:-2}"
BUILD_DIR="${BUILD_DIR:-build}"
source scripts/common.sh

usage() {
  cat <<USAGE
usage: scripts/test.sh [--help]

Installs the Debian packages that are missing (scripts/setup.sh; needs root or sudo for
that), configures and builds everything in $BUILD_DIR/ (the drivers and the simulator for
the host with sanitizers, the PE32+ images and the test harness images, the tools, the
GoogleTest suites and the fuzzers), then runs every ctest test: unit and simulator tests,
bounded fuzzer runs, the smoke boot and the virtual board on OVMF in QEMU.

Takes about 8 minutes on two cores from an empty build directory: about 7 to build
and under a minute for the tests, of which the virtual board run (QEMU under TCG, no
KVM) is about 10 seconds. A rebuild after a small change takes seconds.
Build and test output goes to $BUILD_DIR/logs/; a line every 15 seconds shows progress.

$ENVIRONMENT_HELP
USAGE
}

only_help_argument "$@"

bash scripts/setup.sh

started=$SECONDS
echo "test: configuring $BUILD_DIR"
run_logged configure "$BUILD_DIR/logs/configure.log" \
  cmake -S . -B "$BUILD_DIR" -DHOST_SANITIZERS=ON -DBUILD_TESTING=ON -DCMAKE_CXX_COMPILER="${CXX:-clang++}"
echo "test: building (output in $BUILD_DIR/logs/build.log)"
run_logged build "$BUILD_DIR/logs/build.log" cmake --build "$BUILD_DIR" -j"$JOBS"
echo "test: build took $((SECONDS - started)) s"

started=$SECONDS
status=0
ctest --test-dir "$BUILD_DIR" --output-on-failure -j"$JOBS" || status=$?
echo "test: tests took $((SECONDS - started)) s"
exit "$status"
