#!/usr/bin/env bash
# The MIPS suite: cross-builds the plug-in, the host stand-in and the tests for the
# controllers' CPU (MIPS32r2, little-endian, o32) and runs every test under qemu-mipsel.
# Usage: scripts/test-mips.sh [BUILD_DIR]   (default: build-mips)
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh mips
dir=${1:-build-mips}
jobs=$(nproc)

echo "== MIPS32r2 (24Kf) under qemu-mipsel" >&2
echo "-- configuring $dir (log: $dir/configure.log)" >&2
mkdir -p "$dir"
cmake -S . -B "$dir" -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/mipsel-linux-gnu.cmake \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELK_BUILD_BENCHMARKS=OFF >"$dir/configure.log"
cmake --build "$dir" -j"$jobs"
# Emulation is slower than the machine; a test that hangs in it still ends here.
ctest --test-dir "$dir" -j"$jobs" --output-on-failure --timeout 300
bash scripts/abi-check.sh "$dir" mipsel-linux-gnu
