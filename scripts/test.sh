#!/usr/bin/env bash
# The whole test suite: installs what it needs, builds, and runs every suite, then prints what
# the plug-in's work costs in instructions on x86-64 and on Debian's mipsel. Progress goes to
# standard error, one line a step; standard output has what the steps print.
set -euo pipefail
cd "$(dirname "$0")/.."

echo "test: checking the build's packages" >&2
bash scripts/install-deps.sh native
counter=$(bash scripts/instruction-counter.sh | tail -n 1)
jobs=$(nproc)

suite() {  # suite NAME BUILD_DIR [cmake options...]
  local name=$1 dir=$2
  shift 2
  echo "== $name" >&2
  echo "test: configuring $dir (log: $dir/configure.log)" >&2
  mkdir -p "$dir"
  cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >"$dir/configure.log"
  echo "test: building $dir" >&2
  cmake --build "$dir" -j"$jobs"
  echo "test: running the tests of $dir" >&2
  ctest --test-dir "$dir" -j"$jobs" --output-on-failure
}

# thread_suite DIR: only the test of devices on threads of their own, under ThreadSanitizer
# (which cannot share a build with AddressSanitizer): one test program built, one test run.
thread_suite() {
  local dir=$1
  echo "== ThreadSanitizer (devices on threads of their own)" >&2
  echo "test: configuring $dir (log: $dir/configure.log)" >&2
  mkdir -p "$dir"
  cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELK_SANITIZE=thread >"$dir/configure.log"
  echo "test: building velk_device_tests in $dir" >&2
  cmake --build "$dir" -j"$jobs" --target velk_device_tests
  echo "test: running ThreadsTest in $dir" >&2
  ctest --test-dir "$dir" -R '^ThreadsTest[.]' --no-tests=error --timeout 120 --output-on-failure
}

suite "native" build -DVELK_INSTRUCTION_COUNTER="$counter"
bash scripts/abi-check.sh build x86_64-linux-gnu
suite "variant host headers (tests/variant_host)" build-variant \
  -DVELK_HOST_INCLUDE_DIR="$PWD/tests/variant_host" -DVELK_BUILD_BENCHMARKS=OFF
echo "== the ABI verdict on the daemon's headers: tests/variant_host, then copies of host/" >&2
bash scripts/abi-daemon-headers-check.sh
suite "AddressSanitizer and UndefinedBehaviorSanitizer" build-asan -DVELK_SANITIZE=ON
thread_suite build-tsan

echo "== settings fuzzer (clang, AddressSanitizer, UndefinedBehaviorSanitizer)" >&2
bash scripts/fuzz.sh 60

bash scripts/test-mips.sh build-mips
bash scripts/cost-report.sh build build-mips
