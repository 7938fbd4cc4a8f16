#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, AddressSanitizer + UndefinedBehaviorSanitizer)
# and runs each for SECONDS (default 60) on a scratch copy of its seed corpus.
#
#   scripts/fuzz.sh [SECONDS]
#
# Environment:
#   CORVANE_FUZZ_TARGETS  targets to run (default: all four)
#   CORVANE_FUZZ_JOBS     targets run at the same time (default 1)
#   CORVANE_FUZZ_SEED     a fixed random seed, so that a run can be repeated
#                         exactly (CI sets one; default: libFuzzer picks one)
#   CORVANE_FUZZ_MERGE=1  afterwards, merge inputs that add coverage into the
#                         repository corpus fuzz/corpus/<target> (off by default:
#                         the repository corpus is only read)
#
# The scratch corpora stay in build/fuzz-corpus/<target> between runs; logs and
# findings (crash-*, leak-*, timeout-*, oom-*) go to build/fuzz-out/<target>/.
# The script fails when a target finds anything.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
targets=${CORVANE_FUZZ_TARGETS:-"timestamp_fuzz csv_reader_fuzz json_request_fuzz pipeline_fuzz"}
jobs=${CORVANE_FUZZ_JOBS:-1}
venv=${CORVANE_VENV:-.venv}
[ -d "$venv/bin" ] && export PATH="$PWD/$venv/bin:$PATH"

build=build/fuzz
CC=${CC:-clang-14} CXX=${CXX:-clang++-14} cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCORVANE_BUILD_FUZZERS=ON -DCORVANE_BUILD_MODULE=OFF -DCORVANE_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j2

# Longest input per target: a timestamp is short, a reader needs a few hundred
# rows, the pipeline enough rows for ten-minute windows.
max_len() {
  case "$1" in
    timestamp_fuzz) echo 128 ;;
    csv_reader_fuzz | json_request_fuzz) echo 16384 ;;
    pipeline_fuzz) echo 65536 ;;
  esac
}

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:allocator_may_return_null=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

run_target() {
  local target=$1
  local corpus=build/fuzz-corpus/$target
  local out=build/fuzz-out/$target
  mkdir -p "$corpus" "$out"
  cp -n fuzz/corpus/"$target"/* "$corpus"/ 2>/dev/null || true
  local status=0
  "$build/fuzz/$target" "$corpus" -dict="fuzz/$target.dict" -max_len="$(max_len "$target")" \
    ${CORVANE_FUZZ_SEED:+-seed="$CORVANE_FUZZ_SEED"} -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -malloc_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$out/" >"$out/run.log" 2>&1 || status=$?
  # The last status line carries the final coverage and corpus figures.
  local last
  last=$(grep -E '^#[0-9]+' "$out/run.log" | tail -1 || true)
  local runs
  runs=$(grep -E '^stat::number_of_executed_units' "$out/run.log" | awk '{print $2}' || true)
  echo "$target: ${runs:-?} executions; ${last:-no status line}"
  if [ "$status" -ne 0 ]; then
    echo "$target: FAILED (exit $status); see $out/run.log and $out/" >&2
    grep -E 'ERROR|runtime error|SUMMARY|Test unit written' "$out/run.log" | head -10 >&2 || true
    return 1
  fi
  if [ "${CORVANE_FUZZ_MERGE:-0}" = 1 ]; then
    "$build/fuzz/$target" -merge=1 -max_len="$(max_len "$target")" fuzz/corpus/"$target" "$corpus" \
      >"$out/merge.log" 2>&1
  fi
}

failed=0
running=0
pids=()
for target in $targets; do
  run_target "$target" &
  pids+=($!)
  running=$((running + 1))
  if [ "$running" -ge "$jobs" ]; then
    wait "${pids[0]}" || failed=1
    pids=("${pids[@]:1}")
    running=$((running - 1))
  fi
done
for pid in "${pids[@]}"; do
  wait "$pid" || failed=1
done
exit "$failed"
