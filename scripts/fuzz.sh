#!/usr/bin/env bash
# Builds the settings fuzzer with clang (AddressSanitizer, UndefinedBehaviorSanitizer) and runs
# it for a bounded time on a copy of the seed corpus, so the repository is left as it is.
# Usage: scripts/fuzz.sh [seconds]   (default 60)
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
dir=build-fuzz
bash scripts/install-deps.sh native fuzz

echo "fuzz: configuring and building $dir (configure log: $dir/configure.log)" >&2
mkdir -p "$dir"
CC=clang CXX=clang++ cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVELK_FUZZ=ON -DVELK_BUILD_TESTS=OFF -DVELK_BUILD_BENCHMARKS=OFF >"$dir/configure.log"
cmake --build "$dir" -j"$(nproc)"

rm -rf "$dir/corpus" "$dir/artifacts"
cp -r fuzz/corpus "$dir/corpus"
mkdir -p "$dir/artifacts"
log="$dir/fuzz.log"
echo "fuzz: running the settings fuzzer for ${seconds} s (log in $log)" >&2
# A crash, a leak, a sanitizer finding or an escaping exception ends the run with a non-zero
# status and leaves the input in $dir/artifacts.
status=0
"$dir/fuzz/velk_settings_fuzzer" -max_total_time="$seconds" -print_final_stats=1 \
  -dict=fuzz/settings.dict -artifact_prefix="$dir/artifacts/" "$dir/corpus" >"$log" 2>&1 ||
  status=$?
grep -E '^#[0-9]+[[:space:]]+(INITED|DONE)|^stat::number_of_executed_units|^stat::new_units_added' "$log" || true
if [[ $status -ne 0 ]]; then
  tail -n 60 "$log"
  echo "fuzz: FAILED (status $status)" >&2
  exit "$status"
fi
echo "fuzz: no crash, leak, undefined behaviour or exception"
