#!/usr/bin/env bash
# Runs every fuzz target for a chosen number of minutes in all, split evenly between them:
#
#   scripts/fuzz.sh MINUTES
#
# Each target starts from its committed corpus (tests/fuzz/corpus/<target>) and the seeds
# written from code; what it finds new is merged back into the committed corpus, minimised,
# so the next run starts where this one ended (commit the changes to keep them). Findings
# (crash, leak, timeout, out-of-memory inputs) go to build/fuzz-findings/<target>/, and the
# script exits non-zero if there is any.
#
# Environment: BUILD_DIR (default build), JOBS (build jobs, default 2), CXX (default clang++,
# which libFuzzer needs), FUZZ_TARGETS (names to run, default all),
# FUZZ_JOBS (worker processes per target, default 1; above 1 the target runs in fork mode
# and goes on past a finding).
set -euo pipefail

if [[ $# -ne 1 || ! $1 =~ ^[0-9]+$ || $1 -eq 0 ]]; then
  echo "usage: $0 MINUTES" >&2
  exit 2
fi
MINUTES=$1
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${BUILD_DIR:-$ROOT/build}
source "$ROOT/scripts/common.sh"
WORKERS=${FUZZ_JOBS:-1}
ALL_TARGETS="roster_inventory roster_decode roster_routines smi_packet hob_list pdb_lookup pe_image debug_message_config bmc_module kcs_transport"
TARGETS=${FUZZ_TARGETS:-$ALL_TARGETS}

if [[ ! -f $BUILD/CMakeCache.txt ]]; then
  configure_build "$BUILD" >/dev/null
fi
cmake --build "$BUILD" -j"$JOBS" --target fuzzers >/dev/null
FUZZ_BIN=$BUILD/tests/fuzz
SEEDS=$FUZZ_BIN/seeds
"$FUZZ_BIN/fuzz_seeds" "$SEEDS" >/dev/null

set -- $TARGETS
SECONDS_EACH=$((MINUTES * 60 / $#))
if [[ $SECONDS_EACH -lt 10 ]]; then
  SECONDS_EACH=10
fi

FOUND_ANY=0
SUMMARY=$(printf '%-22s %12s %9s %7s %7s %9s\n' target executions exec/s cov ft findings)
for TARGET in "$@"; do
  FUZZER=$FUZZ_BIN/fuzz_$TARGET
  if [[ ! -x $FUZZER ]]; then
    echo "no fuzzer fuzz_$TARGET in $FUZZ_BIN" >&2
    exit 2
  fi
  CORPUS=$ROOT/tests/fuzz/corpus/$TARGET
  WORK=$BUILD/fuzz-work/$TARGET
  FINDINGS=$BUILD/fuzz-findings/$TARGET
  LOG=$BUILD/fuzz-logs/$TARGET.log
  rm -rf "$WORK"
  mkdir -p "$CORPUS" "$WORK" "$FINDINGS" "$(dirname "$LOG")"
  cp -r "$CORPUS/." "$WORK/"
  STAMP=$BUILD/fuzz-work/$TARGET.started
  touch "$STAMP"

  echo "== $TARGET: ${SECONDS_EACH}s, log in $LOG"
  OPTIONS=(-max_total_time="$SECONDS_EACH" -timeout=10 -rss_limit_mb=3072 -print_final_stats=1
           -artifact_prefix="$FINDINGS/")
  if [[ $WORKERS -gt 1 ]]; then
    OPTIONS+=(-fork="$WORKERS" -ignore_crashes=1 -ignore_timeouts=1 -ignore_ooms=1)
  fi
  set +e
  "$FUZZER" "${OPTIONS[@]}" "$WORK" "$SEEDS/$TARGET" >"$LOG" 2>&1
  STATUS=$?
  set -e

  # Executions: the final statistics, or in fork mode the last progress line.
  EXECS=$(sed -n 's/^stat::number_of_executed_units: *//p' "$LOG" | tail -1)
  RATE=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$LOG" | tail -1)
  LAST=$(grep -E '^#[0-9]+' "$LOG" | grep -v 'MERGE' | tail -1 || true)
  if [[ -z $EXECS ]]; then
    EXECS=$(sed -nE 's/^#([0-9]+).*/\1/p' <<<"$LAST")
    RATE=$(sed -nE 's/.*exec\/s:? ([0-9]+).*/\1/p' <<<"$LAST")
  fi
  COV=$(sed -nE 's/.*cov: ([0-9]+).*/\1/p' <<<"$LAST")
  FT=$(sed -nE 's/.*ft: ([0-9]+).*/\1/p' <<<"$LAST")

  # The committed corpus becomes the smallest set covering everything seen so far, kept to
  # a few hundred KB: whole inventory images are some 23 KB each and the seeds written from
  # code carry them, so the decoder's committed inputs are cut to 2 KB, the inventory
  # board's to 1 KB (which keeps nearly all of its coverage).
  MERGED=$BUILD/fuzz-work/$TARGET.merged
  rm -rf "$MERGED"
  mkdir -p "$MERGED"
  LIMIT=()
  case $TARGET in
    roster_decode) LIMIT=(-max_len=2048) ;;
    roster_inventory) LIMIT=(-max_len=1024) ;;
  esac
  if "$FUZZER" -merge=1 "${LIMIT[@]}" -timeout=10 -rss_limit_mb=3072 "$MERGED" "$CORPUS" "$WORK" >"$LOG.merge" 2>&1; then
    rm -rf "$CORPUS"
    mv "$MERGED" "$CORPUS"
  else
    echo "$TARGET: merging the corpus failed; the committed corpus is left as it was (see $LOG.merge)" >&2
  fi

  NEW=$(find "$FINDINGS" -type f -newer "$STAMP" | wc -l)
  if [[ $STATUS -ne 0 && $NEW -eq 0 ]]; then
    echo "$TARGET exited with $STATUS without leaving an input; see $LOG" >&2
    NEW=1
  fi
  if [[ $NEW -gt 0 ]]; then
    FOUND_ANY=1
    find "$FINDINGS" -type f -newer "$STAMP" | sed 's/^/   finding: /'
  fi
  SUMMARY+=$(printf '\n%-22s %12s %9s %7s %7s %9s' "$TARGET" "${EXECS:-?}" "${RATE:-?}" "${COV:-?}" "${FT:-?}" "$NEW")
done

echo
echo "$SUMMARY"
echo
du -sh --apparent-size "$ROOT/tests/fuzz/corpus" | sed 's/\t.*/ committed corpus in all/'
exit $FOUND_ANY
