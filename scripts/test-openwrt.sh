#!/usr/bin/env bash
# The whole suite on the controllers' own ABI: builds (or reuses) the OpenWrt-equivalent
# toolchain, builds the plug-in, the host stand-in, the runner and every test with it and
# OpenWrt's package flags, and runs them under qemu-mipsel with musl's loader.
# Usage: scripts/test-openwrt.sh [BUILD_DIR]   (default: build-openwrt)
set -euo pipefail
cd "$(dirname "$0")/.."

dir=${1:-build-openwrt}
jobs=2

echo "== controllers' ABI (MIPS32r2 24Kc, soft float, musl, MIPS16) under qemu-mipsel"
echo "-- toolchain: scripts/openwrt-toolchain.sh (about 30 minutes the first time)"
sdk=$(bash scripts/openwrt-toolchain.sh | tail -n 1)

# What OpenWrt's build gives a mipsel_24kc package (see packaging/openwrt): its target flags
# with MIPS16 on, and Release with NDEBUG from the SDK's cmake.mk.
cflags="-Os -pipe -mno-branch-likely -mips32r2 -mtune=24kc -fno-caller-saves -fno-plt \
-msoft-float -mips16 -minterlink-mips16"

echo "-- configuring $dir"
cmake -S . -B "$dir" -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/openwrt-mipsel-24kc-musl.cmake \
  -DOPENWRT_SDK="$sdk" -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_C_FLAGS_RELEASE=-DNDEBUG -DCMAKE_CXX_FLAGS_RELEASE=-DNDEBUG \
  -DCMAKE_C_FLAGS="$cflags" -DCMAKE_CXX_FLAGS="$cflags" -DVELK_BUILD_BENCHMARKS=OFF >/dev/null
echo "-- building"
cmake --build "$dir" -j"$jobs"
echo "-- testing under qemu-mipsel"
ctest --test-dir "$dir" -j"$jobs" --output-on-failure --timeout 300
bash scripts/abi-check.sh "$dir" mipsel-openwrt-linux-musl

plugin=$dir/bin/velk_temperature.so
stripped=$(mktemp)
trap 'rm -f "$stripped"' EXIT
"$sdk"/staging_dir/toolchain-*/bin/mipsel-openwrt-linux-musl-strip -o "$stripped" "$plugin"
echo "velk_temperature.so stripped: $(stat -c %s "$stripped") bytes"
