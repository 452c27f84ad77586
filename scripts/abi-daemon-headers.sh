#!/usr/bin/env bash
# For the daemon's team: builds the plug-in and the ABI probe against a directory of the
# daemon's own headers (in place of host/) and reports every difference between their view of
# the shared types and host functions and our baseline (host/'s): first in a few plain lines
# (which classes, virtual tables, records and host functions differ, and whether the daemon must
# rebuild the plug-in), then in abidiff's words. Exit status 0 when there is none, 1 when there
# are differences, 2 when HEADER_DIR is no folder that can be read or the build or a tool
# fails. Progress goes to standard error.
# Usage: scripts/abi-daemon-headers.sh HEADER_DIR [TARGET [CMAKE_OPTION...]]
#   TARGET defaults to x86_64-linux-gnu (a native build); another target needs its toolchain,
#   e.g. mipsel-linux-gnu -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/mipsel-linux-gnu.cmake
# The build directory is build-daemon-headers-TARGET, reconfigured on every run: the build
# compiles against the directory's content as it is then, whatever its files' times.
set -euo pipefail
[[ $# -ge 1 ]] || { echo "usage: $0 HEADER_DIR [TARGET [CMAKE_OPTION...]]" >&2; exit 2; }
if [[ ! -d $1 || ! -r $1 || ! -x $1 ]]; then
  echo "abi-daemon-headers: $1 is no folder that can be read" >&2
  exit 2
fi
headers=$(realpath "$1")
target=${2:-x86_64-linux-gnu}
shift $(($# >= 2 ? 2 : 1))
cd "$(dirname "$0")/.."
source scripts/abi-lib.sh
baseline=$(abi_baseline_file "$target")
[[ -f $baseline ]] || { echo "abi-daemon-headers: no baseline $baseline" >&2; exit 2; }
dir=build-daemon-headers-$target
mkdir -p "$dir"
log=$dir/build.log

echo "abi-daemon-headers: building the plug-in and the ABI probe against $headers in $dir" \
  "(log: $log)" >&2
if ! { cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELK_HOST_INCLUDE_DIR="$headers" \
  -DVELK_BUILD_TESTS=OFF -DVELK_BUILD_BENCHMARKS=OFF "$@" &&
  cmake --build "$dir" -j "$(nproc)" --target velk_temperature velk_abi_probe; } >"$log" 2>&1; then
  tail -n 30 "$log" >&2
  echo "abi-daemon-headers: the build against $headers failed; the whole log is $log" >&2
  exit 2
fi
abi_dump "$dir" "$dir/abi/$target.abi" || exit 2

status=0
report=$(abi_leaf_diff "$baseline" "$dir/abi/$target.abi") || status=$?
# abidiff's status is a bit set: 1 and 2 are its own errors, 4 and 8 differences.
if ((status & 3)); then
  printf '%s\n' "$report" >&2
  exit 2
fi
if ((status == 0)); then
  echo "abi-daemon-headers: no differences from host/ in what the plug-in shares with the daemon ($target)"
  echo "abi-daemon-headers: the daemon need not rebuild the plug-in: one built against host/ fits these headers"
  exit 0
fi
echo "abi-daemon-headers: $headers differs from host/ in what the plug-in shares with the daemon ($target):"
abi_summary <<<"$report"
echo "abi-daemon-headers: the daemon must rebuild the plug-in against these headers: one built against host/ may not fit them"
echo "== abidiff's report, each changed type once (the old side is $baseline, host/; the new side $headers)"
printf '%s\n' "$report"
exit 1
