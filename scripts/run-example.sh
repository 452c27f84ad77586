#!/usr/bin/env bash
# The plug-in's main job on the shipped example device: installs what is missing, builds the
# plug-in and the runner, and feeds the example readings through velk-run.
# Progress goes to standard error: standard output is the plug-in's own log.
set -euo pipefail
cd "$(dirname "$0")/.."

step() { echo "run-example: $*" >&2; }

step "checking the build's packages"
bash scripts/install-deps.sh native
step "configuring build/ with the preset native (log: build/configure.log)"
mkdir -p build
cmake --preset native >build/configure.log
step "building velk-run and velk_temperature.so (about a minute the first time)"
cmake --build build -j"$(nproc)" --target velk-run velk_temperature >/dev/null
step "running velk-run on examples/readings.txt"
exec build/bin/velk-run --data-id 17 --config examples/temperature.json "$@" <examples/readings.txt
