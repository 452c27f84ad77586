#!/usr/bin/env bash
# Runs the settings fuzzer for a bounded time on a copy of the seed corpus, so that the tree is
# left as it is, in as many processes as there are cores (libFuzzer's -fork); the ctest test
# settings_fuzzer of a VELK_FUZZ build.
# Usage: run_fuzzer.sh FUZZER SOURCE_DIR WORK_DIR   (seconds: $VELK_FUZZ_SECONDS, default 15)
# A crash, a leak, a sanitizer finding or an escaping exception ends the run with a non-zero
# status and leaves the input in WORK_DIR/artifacts.
set -euo pipefail
fuzzer=$1
source_dir=$2
work=$3
seconds=${VELK_FUZZ_SECONDS:-15}
processes=$(nproc)

rm -rf "$work/corpus" "$work/artifacts"
cp -r "$source_dir/corpus" "$work/corpus"
mkdir -p "$work/artifacts"
log=$work/fuzz.log
echo "fuzz: running the settings fuzzer for $seconds s in $processes processes (log in $log)"
status=0
"$fuzzer" -fork="$processes" -max_total_time="$seconds" -print_final_stats=1 \
  -dict="$source_dir/settings.dict" -artifact_prefix="$work/artifacts/" "$work/corpus" >"$log" 2>&1 ||
  status=$?
grep -E '^#[0-9]+: cov' "$log" | tail -n 1 || true
if ((status != 0)); then
  tail -n 60 "$log"
  echo "fuzz: FAILED (status $status); the input is in $work/artifacts" >&2
  exit "$status"
fi
echo "fuzz: no crash, leak, undefined behaviour or exception"
