#!/usr/bin/env bash
# The plug-in's main job on the shipped example device: installs what is missing, builds the
# plug-in and the runner, and feeds the example readings through velk-run.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh native
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j2 --target velk-run velk_temperature >/dev/null
exec build/bin/velk-run --data-id 17 --config examples/temperature.json "$@" <examples/readings.txt
