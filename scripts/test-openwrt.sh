#!/usr/bin/env bash
# The whole suite on the controllers' own ABI: builds (or reuses) the OpenWrt-equivalent
# toolchain, builds the plug-in, the host stand-in, the runner and every test with it and
# OpenWrt's package flags and hardening, runs them under qemu-mipsel -cpu 24Kc (the
# controllers' core, no FPU) with musl's loader, checks the plug-in's size and prints what its
# work costs in instructions.
# Usage: scripts/test-openwrt.sh [BUILD_DIR]   (default: build-openwrt)
set -euo pipefail
cd "$(dirname "$0")/.."

dir=${1:-build-openwrt}
jobs=$(nproc)

echo "== controllers' ABI (MIPS32r2 24Kc, soft float, musl, MIPS16) under qemu-mipsel"
echo "-- toolchain: scripts/openwrt-toolchain.sh (17 to 29 minutes the first time)"
sdk=$(bash scripts/openwrt-toolchain.sh | tail -n 1)
counter=$(bash scripts/instruction-counter.sh | tail -n 1)

# What OpenWrt's build gives a mipsel_24kc package (see packaging/openwrt): its target flags
# with MIPS16 on, the SDK's hardening (fortify, stack protector, RELRO, immediate binding), and
# Release with NDEBUG from its cmake.mk. The toolchain file adds the 4 KiB page size.
cflags="-Os -pipe -mno-branch-likely -mips32r2 -mtune=24kc -fno-caller-saves -fno-plt \
-msoft-float -mips16 -minterlink-mips16 -D_FORTIFY_SOURCE=1 -fstack-protector"
hardening_ldflags="-Wl,-z,now -Wl,-z,relro"

echo "-- configuring $dir (log: $dir/configure.log)"
mkdir -p "$dir"
LDFLAGS=$hardening_ldflags cmake -S . -B "$dir" \
  -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/openwrt-mipsel-24kc-musl.cmake \
  -DOPENWRT_SDK="$sdk" -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_C_FLAGS_RELEASE=-DNDEBUG -DCMAKE_CXX_FLAGS_RELEASE=-DNDEBUG \
  -DCMAKE_C_FLAGS="$cflags" -DCMAKE_CXX_FLAGS="$cflags" -DVELK_BUILD_BENCHMARKS=OFF \
  -DVELK_INSTRUCTION_COUNTER="$counter" >"$dir/configure.log"
echo "-- building"
cmake --build "$dir" -j"$jobs"
echo "-- testing under qemu-mipsel -cpu 24Kc"
ctest --test-dir "$dir" -j"$jobs" --output-on-failure --timeout 300
bash scripts/abi-check.sh "$dir" mipsel-openwrt-linux-musl

# The plug-in as the controller's flash holds it: stripped, built with the hardening above.
limit=65536
plugin=$dir/bin/velk_temperature.so
stripped=$(mktemp)
trap 'rm -f "$stripped"' EXIT
"$sdk"/staging_dir/toolchain-*/bin/mipsel-openwrt-linux-musl-strip -o "$stripped" "$plugin"
size=$(stat -c %s "$stripped")
if ! grep -q -- '-z,max-page-size=4096' "$dir/CMakeCache.txt" ||
  ! grep -q -- '-z,relro' "$dir/CMakeCache.txt"; then
  echo "size: $dir was configured without the 4 KiB page size or RELRO; remove it and run again" >&2
  exit 1
fi
if ((size > limit)); then
  echo "size: velk_temperature.so stripped is $size bytes, more than $limit" >&2
  exit 1
fi
echo "size: velk_temperature.so stripped, hardened, 4 KiB pages: $size bytes (at most $limit)"

bash scripts/cost-report.sh "$dir"
