#!/usr/bin/env bash
# `cmake --install` by component, into prefixes of its own: "plugin" installs the plug-in alone,
# "tools" velk-run and the stand-in alone, each where the build says; velk-run installed with
# both runs the installed plug-in without being told where it is, finding the stand-in from its
# own place (not the build's).
# Usage: check_install.sh CMAKE BUILD_DIR PLUGIN_FILE VELK_RUN_FILE STANDIN_FILE DOC_FILE [RUN]
#   the *_FILE arguments relative to the prefix; RUN (any word) also runs the installed velk-run
set -euo pipefail
cmake=$1
build=$2
plugin=$3
velk_run=$4
standin=$5
doc=$6
run=${7:-}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
# installed COMPONENT EXPECTED...: the component installs exactly the files expected.
installed() {
  local component=$1 prefix=$work/$1
  shift
  "$cmake" --install "$build" --prefix "$prefix" --component "$component" >/dev/null
  local files expected
  files=$(cd "$prefix" && find . -type f -o -type l | sed 's|^\./||' | sort)
  expected=$(printf '%s\n' "$@" | sort)
  [[ $files == "$expected" ]] ||
    fail "component $component installs"$'\n'"$files"$'\n'"not"$'\n'"$expected"
}
installed plugin "$plugin"
installed tools "$velk_run" "$standin" "$doc"

if [[ -n $run ]]; then
  prefix=$work/all
  "$cmake" --install "$build" --prefix "$prefix" >/dev/null
  if ! events=$(env -u LD_LIBRARY_PATH "$prefix/$velk_run" 1000 2>&1 >/dev/null); then
    fail "the installed velk-run failed: $events"
  elif ! grep -q '"call":"SaveDeviceHistory"' <<<"$events"; then
    fail "the installed velk-run ran no round: $events"
  fi
fi

((failures == 0)) || exit 1
echo "installed by component: plugin, tools${run:+; the installed velk-run runs the installed plug-in}"
