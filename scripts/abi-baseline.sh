#!/usr/bin/env bash
# Regenerates a target's committed ABI baseline from a build: a deliberate step, for a change
# of the shared types or host functions that is meant. Prints what changed against the old
# baseline; commit the new file together with the change, for review.
# Usage: scripts/abi-baseline.sh BUILD_DIR TARGET   (e.g. build x86_64-linux-gnu)
set -euo pipefail
[[ $# -eq 2 ]] || { echo "usage: $0 BUILD_DIR TARGET" >&2; exit 2; }
dir=$(realpath -m "$1") target=$2
cd "$(dirname "$0")/.."
source scripts/abi-lib.sh
baseline=$(abi_baseline_file "$target")

current="$dir/abi/$target.abi"
abi_dump "$dir" "$current"
if [[ -f $baseline ]]; then
  if report=$(abi_diff "$baseline" "$current"); then
    echo "abi-baseline: $baseline already matches $dir; left as it is"
    exit 0
  fi
  printf '%s\n' "$report"
  echo "abi-baseline: $baseline replaced; the changes are above"
else
  echo "abi-baseline: $baseline created"
fi
cp "$current" "$baseline"
