#!/usr/bin/env bash
# The plug-in file as the controllers' loader takes it: a 32-bit little-endian MIPS shared
# object for MIPS32r2 and the o32 ABI, position-independent with PIC calls, and without text
# relocations (the loader would write into its code pages, and a hardened one refuses them).
# Read from what readelf prints of its header and dynamic section.
# Usage: check_controller_plugin.sh READELF PLUGIN
set -euo pipefail
readelf=$1
plugin=$2

failures=0
fail() { echo "FAIL: $plugin: $*" >&2; failures=$((failures + 1)); }

header=$("$readelf" -h "$plugin")
field() { sed -n "s/^ *$1: *//p" <<<"$header"; }
[[ $(field Class) == ELF32 ]] || fail "not ELF32: $(field Class)"
[[ $(field Data) == *"little endian" ]] || fail "not little-endian: $(field Data)"
[[ $(field Type) == DYN* ]] || fail "not a shared object: $(field Type)"
[[ $(field Machine) == "MIPS R3000" ]] || fail "not MIPS (EM_MIPS): $(field Machine)"
# "0x70001007, noreorder, pic, cpic, o32, mips32r2": the flags as words after the number.
flags=" $(field Flags | sed "s/^[^,]*//" | tr -d ,) "
for word in mips32r2 o32 pic cpic; do
  [[ $flags == *" $word "* ]] || fail "e_flags do not say $word:$flags"
done

dynamic=$("$readelf" -d "$plugin")
grep -q '(NULL)' <<<"$dynamic" || fail "no dynamic section: nothing for the loader to bind"
! grep -q '(TEXTREL)' <<<"$dynamic" || fail "the dynamic section has DT_TEXTREL"
! grep -Eq '\(FLAGS\).*TEXTREL' <<<"$dynamic" || fail "DT_FLAGS has DF_TEXTREL"

if ((failures > 0)); then
  exit 1
fi
echo "MIPS32r2 o32 shared object, position-independent, no text relocations: $plugin"
