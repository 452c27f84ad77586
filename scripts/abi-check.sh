#!/usr/bin/env bash
# Compares the ABI of a build with the committed baseline of its target and fails, printing
# abidiff's report, on any difference. A deliberate change is accepted with abi-baseline.sh.
# Usage: scripts/abi-check.sh BUILD_DIR TARGET   (e.g. build x86_64-linux-gnu)
set -euo pipefail
source "$(dirname "$0")/abi-lib.sh"
abi_build_args "$@"
cd "$(dirname "$0")/.."
[[ -f $baseline ]] || {
  echo "abi-check: no baseline $baseline; create it with scripts/abi-baseline.sh $dir $target" >&2
  exit 1
}

echo "== ABI of $dir against $baseline" >&2
abi_dump "$dir" "$current"
if report=$(abi_diff "$baseline" "$current"); then
  echo "abi-check: $target matches its baseline"
  exit 0
fi
printf '%s\n' "$report"
echo "abi-check: the ABI of $dir differs from $baseline (above, in abidiff's words)." >&2
echo "abi-check: if the change is deliberate, run scripts/abi-baseline.sh $dir $target" \
  "and commit the new baseline for review." >&2
exit 1
