#!/usr/bin/env bash
# Checks scripts/abi-daemon-headers.sh the way the daemon's team meets it, in one sequence over
# its one build directory: a mistyped folder, tests/variant_host, then their include directory holding a harmless
# copy of host/, then the same directory holding a copy that breaks the plug-in, with files
# older than the build before (as cp -a, a checkout or an unpacked archive leave them, and as
# make would take for up to date). Fails on any wrong verdict, with the report.
# Usage: scripts/abi-daemon-headers-check.sh   (native, x86_64-linux-gnu)
set -euo pipefail
cd "$(dirname "$0")/.."
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
include=$work/include
probe=build-daemon-headers-x86_64-linux-gnu/abi/velk_abi_probe.so
failed=0

# copy_host NAME: a copy of host/ in $work/NAME, every file dated long before any build.
copy_host() {
  cp -a host "$work/$1"
}
# install NAME: NAME becomes the include directory; it must be older than the last build.
install() {
  rm -rf "$include"
  cp -a "$work/$1" "$include"
  touch -d '2001-01-01 00:00 UTC' "$include" "$include"/*
  if [[ -n $(find "$include" -newer "$probe") ]]; then
    echo "abi-daemon-headers-check: $1 is not older than the last build; the check proves nothing" >&2
    exit 1
  fi
}
# verdict STEP DIR STATUS PATTERN...: runs the script on DIR; its status must be STATUS and each
# pattern (grep -E) must match a line of the plain lines that begin its report, each of which is
# read as "HEADING|ENTRY" ("classes|DranVDevice: ...", "|abi-daemon-headers: ...").
verdict() {
  local step=$1 dir=$2 expected=$3 status=0 pattern wrong=""
  shift 3
  bash scripts/abi-daemon-headers.sh "$dir" >"$work/report" 2>"$work/progress" || status=$?
  sed '/^== /,$d' "$work/report" >"$work/summary"
  awk '/^  [a-z ]+: / { heading = $0; sub(/^  /, "", heading); sub(/:.*/, "", heading)
                        sub(/^  [a-z ]+: +/, ""); print heading "|" $0; next }
       /^ +[^ ]/ { sub(/^ +/, ""); print heading "|" $0; next }
       { heading = ""; print "|" $0 }' "$work/summary" >"$work/entries"
  ((status == expected)) || wrong="status $status, not $expected"
  for pattern in "$@"; do
    grep -Eq -- "$pattern" "$work/entries" || wrong+="${wrong:+; }no line matches '$pattern'"
  done
  if [[ -n $wrong ]]; then
    cat "$work/progress" "$work/summary" >&2
    echo "abi-daemon-headers-check: FAILED: $step: $wrong" >&2
    failed=1
  else
    echo "abi-daemon-headers-check: $step: status $status, as it should" >&2
  fi
}

# What the daemon's team may change without touching the plug-in's view: comments, an initial
# value (the host's constructor sets it), a non-virtual inline function.
copy_host harmless
sed -i -e 's/^  int report_interval_ = 0;/  int report_interval_ = 60;/' \
  -e 's|^  // Host services a round calls directly.|  bool IsOnline() const { return online_; }\n&|' \
  -e '1s|^// |// The daemon'"'"'s own copy. |' "$work/harmless/dran_vdevice.h"
# What breaks it: a virtual operation added in the middle of the table, and a member the plug-in
# writes grown from 16 to 32 bits.
copy_host breaking
sed -i -e 's/^  virtual int SendDelayData(int seconds);/&\n  virtual void Flush();/' \
  -e 's/^  short round_state_ = 0;/  int round_state_ = 0;/' "$work/breaking/dran_vdevice.h"
for name in harmless breaking; do
  if cmp -s host/dran_vdevice.h "$work/$name/dran_vdevice.h"; then
    echo "abi-daemon-headers-check: the $name copy did not take its edits; host/ has changed" >&2
    exit 1
  fi
done

verdict "1/4 a folder that does not exist" "$work/no/such/include" 2
verdict "2/4 tests/variant_host" tests/variant_host 1 '^classes\|DranVDevice: size' \
  '^records\|rule_value: size' '^\|abi-daemon-headers: the daemon must rebuild'
install harmless
verdict "3/4 a harmless copy of host/" "$include" 0 '^\|abi-daemon-headers: no differences' \
  '^\|abi-daemon-headers: the daemon need not rebuild'
install breaking
verdict "4/4 a breaking copy, older than the last build" "$include" 1 \
  '^virtual tables\|DranVDevice: added Flush; moved SendDoData' \
  '^classes\|DranVDevice: data members round_state_$' '^\|abi-daemon-headers: the daemon must rebuild'
exit $failed
