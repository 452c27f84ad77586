#!/usr/bin/env bash
# The controllers' userland is soft float and musl: a plug-in or program built for another
# float ABI or C library loads there, if at all, only to pass floats in the wrong registers
# or to miss its runtime. Checks the float ABI that the objects record, and what they need
# at run time.
# Usage: check_controller_runtime.sh READELF PLUGIN PROGRAM
set -euo pipefail
readelf=$1
plugin=$2
program=$3

failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

# musl's loader for little-endian soft-float MIPS; its libc is the same file, "libc.so".
loader=/lib/ld-musl-mipsel-sf.so.1
allowed_needed='^(libc\.so|libstdc\+\+\.so\.6|libgcc_s\.so\.1|libjsoncpp\.so\.[0-9]+)$'

for object in "$plugin" "$program"; do
  attributes=$("$readelf" -A "$object")
  # The object attribute (.gnu.attributes) and the MIPS ABI flags each say it on their own.
  grep -q 'Tag_GNU_MIPS_ABI_FP: Soft float' <<<"$attributes" ||
    fail "$object: .gnu.attributes do not say soft float: $(grep -m1 Tag_GNU_MIPS_ABI_FP <<<"$attributes")"
  grep -q '^ *FP ABI: *Soft float' <<<"$attributes" ||
    fail "$object: MIPS ABI flags do not say soft float: $(grep -m1 'FP ABI' <<<"$attributes")"

  needed=$("$readelf" -d "$object" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p')
  grep -qx 'libc.so' <<<"$needed" || fail "$object: does not need musl's libc.so"
  while read -r library; do
    # The program stands in for the daemon, whose services it loads from the stand-in.
    [[ $object == "$program" && $library == libvelk_host_standin.so ]] && continue
    [[ -z $library || $library =~ $allowed_needed ]] ||
      fail "$object: needs $library, which is neither musl, libstdc++, libgcc nor jsoncpp"
  done <<<"$needed"
done

interpreter=$("$readelf" -l "$program" | sed -n 's/.*Requesting program interpreter: \(.*\)\]/\1/p')
[[ $interpreter == "$loader" ]] || fail "$program: loader is '$interpreter', not $loader"

if [[ $failures -gt 0 ]]; then
  echo "$failures run-time ABI violation(s)" >&2
  exit 1
fi
echo "soft float and musl: $plugin and $program"
