#!/usr/bin/env bash
# The instruction counter on a program that forks: each process must append a block of its own
# that counts only its own instructions, so that scripts/cost-report.sh's sum over the blocks
# is what the program executed. A shell that runs two subshells is three processes, and its
# children do little beside what their parent did before the fork.
# Usage: check_counter_forks.sh QEMU COUNTER
set -euo pipefail
qemu=$1
counter=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$qemu" -plugin "$counter,out=$work/alone" /bin/sh -c ':'
"$qemu" -plugin "$counter,out=$work/forked" /bin/sh -c '(:); (:)'
alone=$(awk '$1 == "total" { print $2 }' "$work/alone")
read -r blocks largest sum < <(awk '$1 == "total" { n++; s += $2; if ($2 > m) m = $2 }
  END { print n, m, s }' "$work/forked")
if ((blocks != 3)); then
  echo "FAIL: a shell with two subshells left $blocks blocks of counts, not 3" >&2
  exit 1
fi
# The parent is the largest block; each child is a small part of it unless it counted the
# parent's instructions again.
if ((sum - largest > alone / 2)); then
  echo "FAIL: the two children count $((sum - largest)) instructions, against $alone for the" \
    "shell alone: a child counts what its parent did before the fork" >&2
  exit 1
fi
echo "instruction counter: a block per process, $sum instructions in all ($alone for the shell alone)"
