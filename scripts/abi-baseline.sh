#!/usr/bin/env bash
# Regenerates a target's committed ABI baseline from a build: a deliberate step, for a change
# of the shared types or host functions that is meant. Prints what changed against the old
# baseline; commit the new file together with the change, for review.
# Usage: scripts/abi-baseline.sh BUILD_DIR TARGET   (e.g. build x86_64-linux-gnu)
set -euo pipefail
source "$(dirname "$0")/abi-lib.sh"
abi_build_args "$@"
cd "$(dirname "$0")/.."

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
