#!/usr/bin/env bash
# The plug-in as the controller's flash holds it: stripped, at most LIMIT bytes, linked for
# 4 KiB pages (the controllers' kernels; the MIPS linker's default of 64 KiB pads the file
# past the limit once RELRO is on) and with the SDK's hardening, RELRO and immediate binding.
# Usage: check_flash_image.sh READELF STRIP PLUGIN LIMIT
set -euo pipefail
readelf=$1
strip=$2
plugin=$3
limit=$4
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

failures=0
fail() { echo "FAIL: $plugin: $*" >&2; failures=$((failures + 1)); }

segments=$("$readelf" -l -W "$plugin")
alignments=$(awk '$1 == "LOAD" { print $NF }' <<<"$segments" | sort -u)
[[ $alignments == 0x1000 ]] || fail "its LOAD segments are aligned to ${alignments//$'\n'/, }, not 4 KiB"
grep -q '^ *GNU_RELRO ' <<<"$segments" || fail "no GNU_RELRO segment (-Wl,-z,relro)"
grep -Eq '\((FLAGS|FLAGS_1)\).*(BIND_NOW|NOW)' <<<"$("$readelf" -d "$plugin")" ||
  fail "not bound at once (-Wl,-z,now)"

"$strip" -o "$work/stripped" "$plugin"
size=$(stat -c %s "$work/stripped")
((size <= limit)) || fail "stripped, it is $size bytes, more than $limit"

((failures == 0)) || exit 1
echo "velk_temperature.so stripped, hardened, 4 KiB pages: $size bytes (at most $limit)"
