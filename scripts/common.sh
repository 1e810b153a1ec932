# Sourced by demo.sh and test.sh: their one argument (--help) and a way to run a long step
# with its output in a log file and a line every 15 seconds saying how far it is, so neither
# minutes of compiler output nor minutes of silence stand between a person and the result.

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
