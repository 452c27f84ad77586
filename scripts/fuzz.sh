#!/usr/bin/env bash
# The fuzz suite: builds the settings fuzzer with clang (libFuzzer, AddressSanitizer,
# UndefinedBehaviorSanitizer) and runs it for a bounded time on a copy of the seed corpus (the
# workflow preset "fuzz", in build-fuzz); a failing input is left in build-fuzz/artifacts.
# Usage: scripts/fuzz.sh [seconds]   (default 15, on every core)
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh native fuzz
echo "== settings fuzzer (preset fuzz, build-fuzz/)" >&2
VELK_FUZZ_SECONDS=${1:-15} cmake --workflow --preset fuzz
