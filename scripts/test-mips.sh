#!/usr/bin/env bash
# The MIPS suite: cross-builds the plug-in, the host stand-in and the tests for the
# controllers' CPU (MIPS32r2, little-endian, o32) with Debian's mipsel toolchain and runs every
# test under qemu-mipsel (the workflow preset "mips", in build-mips), then its ABI check.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh mips
export CTEST_PARALLEL_LEVEL=${CTEST_PARALLEL_LEVEL:-$(nproc)}
echo "== MIPS32r2 (24Kf) under qemu-mipsel (preset mips, build-mips/)" >&2
cmake --workflow --preset mips
bash scripts/abi-check.sh build-mips mipsel-linux-gnu
