#!/usr/bin/env bash
# For the daemon's team: builds the plug-in against a directory of the daemon's own headers
# (in place of host/) and prints every difference between the plug-in's view of the shared
# types and host functions and our baseline, in abidiff's words. Exit status 0 when there is
# none, 1 when there are differences, 2 and up when the build or a tool fails.
# Usage: scripts/abi-daemon-headers.sh HEADER_DIR [TARGET [CMAKE_OPTION...]]
#   TARGET defaults to x86_64-linux-gnu (a native build); another target needs its toolchain,
#   e.g. mipsel-linux-gnu -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/mipsel-linux-gnu.cmake
# The build directory is build-daemon-headers-TARGET.
set -euo pipefail
[[ $# -ge 1 ]] || { echo "usage: $0 HEADER_DIR [TARGET [CMAKE_OPTION...]]" >&2; exit 2; }
headers=$(realpath "$1")
target=${2:-x86_64-linux-gnu}
shift $(($# >= 2 ? 2 : 1))
cd "$(dirname "$0")/.."
source scripts/abi-lib.sh
baseline=$(abi_baseline_file "$target")
[[ -f $baseline ]] || { echo "abi-daemon-headers: no baseline $baseline" >&2; exit 2; }
dir=build-daemon-headers-$target

echo "== the plug-in against $headers ($target)"
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELK_HOST_INCLUDE_DIR="$headers" \
  -DVELK_BUILD_TESTS=OFF -DVELK_BUILD_BENCHMARKS=OFF "$@" >/dev/null || exit 2
cmake --build "$dir" --target velk_temperature || exit 2
abi_dump "$dir" "$dir/abi/$target.abi" || exit 2

echo "== differences from $baseline (the old side is ours, the new side the daemon's)"
status=0
abi_diff "$baseline" "$dir/abi/$target.abi" || status=$?
# abidiff's status is a bit set: 1 and 2 are its own errors, 4 and 8 differences.
if ((status & 3)); then exit 2; fi
if ((status == 0)); then
  echo "abi-daemon-headers: no differences"
  exit 0
fi
exit 1
