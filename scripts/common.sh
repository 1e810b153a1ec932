# Sourced by the scripts: their one argument (--help), the one configure of the tree, the
# root helper for apt, where the EDK II source lives, and a way to run a long step with its
# output in a log file and a line every 15 seconds saying how far it is, so neither minutes
# of compiler output nor minutes of silence stand between a person and the result.

JOBS="${JOBS:-2}"
BUILD_DIR="${BUILD_DIR:-build}"
ENVIRONMENT_HELP="Environment: JOBS (parallel jobs, default 2), BUILD_DIR (default build), CXX (default clang++)."

# only_help_argument "$@": with -h or --help prints the caller's usage and exits 0, before
# anything is installed or built; any other argument is a usage error.
only_help_argument() {
  case "${1:-}" in
    -h | --help) usage; exit 0 ;;
    "") ;;
    *) usage >&2; exit 2 ;;
  esac
}

# configure_build DIR: the build every script uses: host code with sanitizers, the tests and
# the harness images, compiled by $CXX.
configure_build() {
  cmake -S "$(dirname "${BASH_SOURCE[0]}")/.." -B "$1" -DHOST_SANITIZERS=ON -DBUILD_TESTING=ON -DCMAKE_CXX_COMPILER="${CXX:-clang++}"
}

# as_root COMMAND...: runs COMMAND as root, through sudo when not root already. apt never
# asks: sudo drops the environment, so the frontend goes on the command line.
as_root() {
  if [ "$(id -u)" -eq 0 ]; then
    DEBIAN_FRONTEND=noninteractive "$@"
  else
    sudo env DEBIAN_FRONTEND=noninteractive "$@"
  fi
}

# The EDK II source the platform build takes (Debian's edk2 source package of the installed
# ovmf release, so the platform built is the one the other runs boot, plus our drivers), and
# the cache outside the clone where setup fetches it and the platform build keeps its trees.
EDK2_PACKAGE=edk2
if [ "$(id -u)" -eq 0 ]; then
  FIRMWARE_CACHE="${ROSTER_FIRMWARE_CACHE:-/var/cache/roster-hotlatch}"
else
  FIRMWARE_CACHE="${ROSTER_FIRMWARE_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/roster-hotlatch}"
fi
edk2_version() {
  dpkg-query -W -f='${Version}' ovmf
}
edk2_source_dir() {
  echo "$FIRMWARE_CACHE/src/$EDK2_PACKAGE-$(edk2_version)"
}

# run_logged LABEL LOG COMMAND...: on failure prints the end of LOG and returns non-zero.
run_logged() {
  local label=$1 log=$2
  shift 2
  mkdir -p "$(dirname "$log")"
  "$@" >"$log" 2>&1 &
  local pid=$! waited=0 percent
  while kill -0 "$pid" 2>/dev/null; do
    sleep 1
    waited=$((waited + 1))
    if [ $((waited % 15)) -eq 0 ]; then
      percent=$(grep -ao '^\[ *[0-9]*%\]' "$log" | tail -n 1 | tr -d '[] ' || true)
      echo "    $label: ${waited} s${percent:+, at $percent}"
    fi
  done
  if ! wait "$pid"; then
    echo "$label failed; the end of $log:" >&2
    tail -n 40 "$log" >&2
    return 1
  fi
}
