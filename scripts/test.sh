#!/usr/bin/env bash
# The whole test suite: installs what it needs, then runs each suite's workflow preset
# (CMakePresets.json: configure, build, test) in its own build directory, each ABI check after
# the build it checks, and ends with what the plug-in's work costs in instructions on x86-64
# and on Debian's mipsel. Progress goes to standard error, one line a step; standard output has
# what the steps print.
set -euo pipefail
cd "$(dirname "$0")/.."

echo "test: checking the build's packages" >&2
bash scripts/install-deps.sh native fuzz mips
# The native suite's cost check counts with it.
VELK_INSTRUCTION_COUNTER=$(bash scripts/instruction-counter.sh | tail -n 1)
export VELK_INSTRUCTION_COUNTER
export CTEST_PARALLEL_LEVEL=${CTEST_PARALLEL_LEVEL:-$(nproc)}

echo "== native (preset native, build/)" >&2
cmake --workflow --preset native
bash scripts/abi-check.sh build x86_64-linux-gnu
echo "== variant host headers (preset variant, build-variant/)" >&2
cmake --workflow --preset variant
echo "== the ABI verdict on the daemon's headers: tests/variant_host, then copies of host/" >&2
bash scripts/abi-daemon-headers-check.sh
echo "== AddressSanitizer and UndefinedBehaviorSanitizer (preset asan, build-asan/)" >&2
cmake --workflow --preset asan
echo "== ThreadSanitizer, devices on threads of their own (preset tsan, build-tsan/)" >&2
cmake --workflow --preset tsan
bash scripts/fuzz.sh
bash scripts/test-mips.sh
bash scripts/cost-report.sh build build-mips
