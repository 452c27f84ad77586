#!/usr/bin/env bash
# The whole suite on the controllers' own ABI: builds (or reuses) the OpenWrt-equivalent
# toolchain, then runs the workflow preset "openwrt" in build-openwrt: the plug-in, the host
# stand-in, the runner and every test built with OpenWrt's package flags and hardening and run
# under qemu-mipsel -cpu 24Kc (the controllers' core, no FPU) with musl's loader, the stripped
# plug-in's size included. Then its ABI check, the OpenWrt package's own steps, and the figures
# that docs/daemon-team-figures.md gives the daemon's team, measured again. Progress goes to
# standard error, one line a step; standard output has what the steps print.
set -euo pipefail
cd "$(dirname "$0")/.."

echo "== controllers' ABI (MIPS32r2 24Kc, soft float, musl, MIPS16) under qemu-mipsel" >&2
echo "-- toolchain: scripts/openwrt-toolchain.sh (17 to 29 minutes the first time)" >&2
OPENWRT_SDK=$(bash scripts/openwrt-toolchain.sh | tail -n 1)
VELK_INSTRUCTION_COUNTER=$(bash scripts/instruction-counter.sh | tail -n 1)
export OPENWRT_SDK VELK_INSTRUCTION_COUNTER
export CTEST_PARALLEL_LEVEL=${CTEST_PARALLEL_LEVEL:-$(nproc)}

echo "-- preset openwrt, build-openwrt/" >&2
cmake --workflow --preset openwrt
bash scripts/abi-check.sh build-openwrt mipsel-openwrt-linux-musl
echo "-- the OpenWrt package's own steps (packaging/check-openwrt-package.sh)" >&2
bash packaging/check-openwrt-package.sh build-openwrt-package
echo "-- the figures of docs/daemon-team-figures.md (scripts/controller-figures.sh)" >&2
bash scripts/controller-figures.sh build-openwrt
