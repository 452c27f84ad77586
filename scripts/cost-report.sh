#!/usr/bin/env bash
# What the plug-in's work costs, in instructions, on the ABI of each build given: counted under
# qemu-user by the instruction counter (scripts/instruction-counter.sh) with the clock standing
# still, so the figures are the same on every run. One operation's cost is the difference
# between runs of the probe doing it N and 2N times, divided by N. Prints a table per build.
# With --check, measures only the plug-in's own instructions per round and fails (status 1) when
# they exceed the figure committed for the build's target in costs/budget.txt by more than 10%.
# With --figures FILE, also writes every figure to FILE as "TARGET NAME VALUE" lines, for the
# table of the daemon's team (scripts/controller-figures.sh).
# Usage: scripts/cost-report.sh [--check | --figures FILE] BUILD_DIR...
set -euo pipefail
check=0 figures=""
while [[ ${1:-} == --* ]]; do
  case $1 in
    --check) check=1 ;;
    --figures) figures=$(realpath -m "${2:?--figures needs a file}"); shift ;;
    *) echo "cost-report: unknown option $1" >&2; exit 2 ;;
  esac
  shift
done
[[ $# -ge 1 ]] || { echo "usage: $0 [--check | --figures FILE] BUILD_DIR..." >&2; exit 2; }
[[ $check == 0 || -z $figures ]] || { echo "cost-report: --check measures no figures" >&2; exit 2; }
[[ -z $figures ]] || : >"$figures"
dirs=()
for dir in "$@"; do dirs+=("$(realpath -m "$dir")"); done
cd "$(dirname "$0")/.."
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# counts NAME PROGRAM ARGUMENT... < INPUT: runs the program under the counter, keeping its
# counts in $work/NAME: "total N", "object FILE N", a block for each of its processes.
counts() {
  local name=$1
  shift
  : >"$work/$name"
  if ! "${emulator[@]}" -plugin "$counter,out=$work/$name" -E "LD_PRELOAD=$clock" -E TZ=UTC0 \
    "$@" >/dev/null 2>"$work/$name.err"; then
    echo "cost-report: $* failed:" >&2
    cat "$work/$name.err" >&2
    exit 1
  fi
}
# The program's processes together.
total() { awk '$1 == "total" { sum += $2 } END { print sum }' "$work/$1"; }
# per N LOW HIGH: (HIGH - LOW) / N, with one decimal where it is not whole.
per() { awk -v n="$1" -v a="$2" -v b="$3" 'BEGIN { x = (b - a) / n
  printf(x == int(x) ? "%d" : "%.1f", x) }'; }
# probe SCENARIO N: one operation of the scenario, from runs of N and 2N.
probe() {
  counts "$1-$2" "$probe" "$1" "$2" </dev/null
  counts "$1-$(($2 * 2))" "$probe" "$1" "$(($2 * 2))" </dev/null
  per "$2" "$(total "$1-$2")" "$(total "$1-$(($2 * 2))")"
}
# by_object SCENARIO N: what one operation costs in each object, largest first, "OBJECT COUNT"
# a line.
by_object() {
  join -a 2 -e 0 -o 0,1.2,2.2 <(object_sums "$1-$2") <(object_sums "$1-$(($2 * 2))") |
    awk -v n="$2" '{ x = ($3 - $2) / n; if (x != 0) printf("%s %.10g\n", $1, x) }' | sort -k2 -g -r
}
object_sums() {  # object_sums NAME: "OBJECT COUNT" over the run's processes, sorted by object
  awk '$1 == "object" { sum[$2] += $3 } END { for (o in sum) print o, sum[o] }' "$work/$1" | sort
}
row() { printf '  %-62s %9s\n' "$1" "$2"; }

# check_own: the plug-in's own part against the figure committed for the target.
check_own() {
  local figure
  figure=$(awk -v t="$target" '$1 == t { print $2 }' costs/budget.txt)
  if [[ -z $figure ]]; then
    echo "cost-check: costs/budget.txt has no figure for $target" >&2
    return 1
  fi
  if awk -v x="$own" -v f="$figure" 'BEGIN { exit !(x > f * 1.1) }'; then
    echo "cost-check: FAILED: the plug-in's own part of a round is $own instructions on" \
      "$target, more than 10% above the committed $figure (costs/budget.txt)" >&2
    return 1
  fi
  echo "cost-check: the plug-in's own part of a round, $own instructions, is within 10% of" \
    "the committed $figure"
}

status=0
for dir in "${dirs[@]}"; do
  env_file=$dir/costs/cost_env.sh
  [[ -f $env_file ]] || { echo "cost-report: $dir is no configured build with costs/" >&2; exit 1; }
  # target, emulator, probe, clock, velk_run, plugin, examples, counter, strip
  source "$env_file"
  [[ -n $counter ]] || counter=$(bash scripts/instruction-counter.sh | tail -n 1)
  cmake --build "$dir" --target velk_cost_probe velk_fixed_clock velk-run >/dev/null

  n=100
  round=$(probe round $n)
  mandated=$(probe mandated $n)
  stamp=$(probe time $n)
  services=$(probe services $n)
  own=$(awk -v r="$round" -v m="$mandated" -v t="$stamp" -v s="$services" \
    'BEGIN { x = r - m - t - s; printf(x == int(x) ? "%d" : "%.1f", x) }')
  if ((check)); then
    check_own || status=1
    continue
  fi
  settings=$(awk -v x="$(probe settings 4)" 'BEGIN { printf("%g", x / 100) }')
  restore=$(probe restore $n)
  counts load-0 "$probe" load 0 </dev/null
  counts load-1 "$probe" load 1 </dev/null
  load=$(per 1 "$(total load-0)" "$(total load-1)")
  for readings in $n $((n * 2)); do
    awk -v n=$readings 'BEGIN { for (i = 0; i < n; i++) print 1000 }' >"$work/readings-$readings"
    counts "velk-run-$readings" "$velk_run" --plugin "$plugin" \
      --data-id 17 --config "$examples/temperature.json" <"$work/readings-$readings"
  done
  runner=$(per $n "$(total velk-run-$n)" "$(total velk-run-$((n * 2)))")
  memory=$("${emulator[@]}" -E "LD_PRELOAD=$clock" -E TZ=UTC0 "$probe" memory)
  "$strip" -o "$work/stripped" "$plugin"
  size=$(stat -c %s "$work/stripped")

  run_as="${emulator[0]##*/}"
  for ((i = 1; i + 1 < ${#emulator[@]}; i++)); do
    [[ ${emulator[i]} == -cpu ]] && run_as+=" -cpu ${emulator[i + 1]}"
  done
  echo "== instructions on $target ($run_as; clock fixed, TZ=UTC0)"
  echo "per reading"
  row "a whole round (process)" "$round"
  row "the two mandated log lines, each flushed" "$mandated"
  row "the local-time stamp (second_clock::local_time)" "$stamp"
  row "the host services a round calls (stand-in, no recorder)" "$services"
  row "the plug-in's own part (round less the three above)" "$own"
  row "velk-run per reading (events written, example device)" "$runner"
  echo "other operations"
  row "InitSetting, per signal (100 signals)" "$settings"
  row "a cache restore (LoadFromCache, its round included)" "$restore"
  row "loading to the first device (dlopen, get_providers, create)" "$load"
  objects=$(by_object round $n)
  echo "a round by object: $(awk '{ printf("%s%s %s", NR > 1 ? ", " : "", $1, $2) }' <<<"$objects")"
  echo "flash: the plug-in stripped is $size bytes"
  echo "memory: $(awk '{ print "sizeof a device " $2 " bytes, heap it holds after the example configuration " $4 " bytes" }' <<<"$memory")"
  if [[ -n $figures ]]; then
    {
      for name in size round mandated stamp services own settings restore load runner; do
        echo "$target $name ${!name}"
      done
      awk -v t="$target" '{ print t, "sizeof", $2; print t, "heap", $4 }' <<<"$memory"
      # Objects by name without their version ("libstdc++.so", not "libstdc++.so.6.0.30").
      awk -v t="$target" '{ sub(/\.so\..*/, ".so", $1); print t, "object:" $1, $2 }' <<<"$objects"
    } >>"$figures"
  fi
done
exit $status
