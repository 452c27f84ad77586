#!/usr/bin/env bash
# The figures that docs/daemon-team.md gives the daemon's team of what a sensor costs on the
# controller, measured on the controllers' build (scripts/test-openwrt.sh's build-openwrt) by
# scripts/cost-report.sh --figures and written as one table, docs/daemon-team-figures.md. With
# --write, writes the table; without, fails (status 1) when the committed table is not what
# this build measures, naming both numbers. The figures are deterministic (one build's size,
# instructions counted with the clock held still), so each must be exactly what the table says;
# the two that move by some thousands with the build's path (the loader's work on the paths,
# the heap that velk-run's allocations meet) are given rounded, as "about", and must be within
# the margin the table's row has below.
# Usage: scripts/controller-figures.sh [--write] [BUILD_DIR]   (default build-openwrt)
set -euo pipefail
write=0
if [[ ${1:-} == --write ]]; then
  write=1
  shift
fi
dir=$(realpath -m "${1:-build-openwrt}")
cd "$(dirname "$0")/.."
table=docs/daemon-team-figures.md
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

bash scripts/cost-report.sh --figures "$work/figures" "$dir"

# The rows: the figure's name in cost-report's figures, the margin in percent (0: exact), the
# words, the unit.
rows='size|0|flash: the plug-in, stripped|bytes
sizeof|0|RAM: a device (`sizeof`)|bytes
heap|0|RAM: the heap a device holds after the example configuration (two signals, without the allocator'"'"'s overhead)|bytes
-|-|**instructions per reading**|
round|0|a whole round (`process`)|
mandated|0|of which: the two log lines the daemon'"'"'s log must have, each flushed|
stamp|0|of which: the local-time stamp (`second_clock::local_time`, musl'"'"'s `localtime_r`)|
services|0|of which: the six host services a round calls, on the stand-in with no recorder in place|
own|0|of which: the plug-in'"'"'s own part, by difference|
-|-|**other operations, in instructions**|
settings|0|`InitSetting`, per signal (100 signals, four log lines each)|
restore|0|a cache restore (`LoadFromCache`, its round included)|
load|20|loading up to the first device (`dlopen`, `get_providers`, `create`; it moves with the build'"'"'s path)|
runner|10|velk-run, per reading, events written (not on the controller; it moves with the build'"'"'s path)|
-|-|**a round by object, in instructions**|
object:libc.so|0|musl (the time conversion, the writes, `memcpy`)|
object:libstdc++.so|0|libstdc++ (the two log lines'"'"' writes and flushes, the rule'"'"'s strings)|
object:libvelk_host_standin.so|0|the stand-in'"'"'s services (with the calendar of `get_ttime`)|
object:velk_temperature.so|0|the plug-in|
object:libgcc_s.so|0|libgcc (soft-float arithmetic of the conversion, 64-bit arithmetic of the stand-in'"'"'s calendar)|'

# render: the table from the figures; a figure with a margin is rounded to two digits.
render() {
  awk -v rows="$rows" '
    function commas(x,    s, t) {
      s = sprintf("%d", x)
      while (length(s) > 3) { t = "," substr(s, length(s) - 2) t; s = substr(s, 1, length(s) - 3) }
      return s t
    }
    function rounded(x,    scale) {
      scale = 1
      while (x / scale >= 100) scale *= 10
      return int(x / scale + 0.5) * scale
    }
    { target = $1; figure[$2] = $3 }
    END {
      print "<!-- Written by scripts/controller-figures.sh --write from the build of scripts/test-openwrt.sh;"
      print "     test-openwrt.sh fails when a run measures otherwise. Not to be edited by hand. -->"
      print "# What a sensor costs on the controller: the figures"
      print ""
      print "Measured on the build for `" target "`: OpenWrt'"'"'s flags with MIPS16, its"
      print "hardening, 4 KiB pages. Instructions counted under `qemu-mipsel -cpu 24Kc` with the clock"
      print "held still and `TZ=UTC0`, so that they are the same on every run. docs/daemon-team.md says"
      print "what they cover."
      print ""
      print "| what | figure |"
      print "| --- | ---: |"
      n = split(rows, row, "\n")
      for (i = 1; i <= n; i++) {
        split(row[i], part, "|")
        if (part[1] == "-") { print "| " part[3] " | |"; continue }
        if (!(part[1] in figure)) { print "controller-figures: no figure " part[1] > "/dev/stderr"; failed = 1; continue }
        x = figure[part[1]] + 0
        shown = part[2] > 0 ? "about " commas(rounded(x)) : commas(int(x + 0.5))
        print "| " part[3] " | " shown (part[4] != "" ? " " part[4] : "") " |"
      }
      exit failed
    }' "$work/figures"
}
render >"$work/table"

if ((write)); then
  cp "$work/table" "$table"
  echo "controller-figures: wrote $table"
  exit 0
fi
# Row by row: the words must be the same, and the figure too, or within the row's margin.
if ! awk -v rows="$rows" -v table="$table" '
    function number(cell) { gsub(/[^0-9]/, "", cell); return cell + 0 }
    function figure(line,    cells) { split(line, cells, " \\| "); return cells[2] }
    function words(line,    cells) { split(line, cells, " \\| "); return cells[1] }
    BEGIN {
      n = split(rows, row, "\n")
      for (i = 1; i <= n; i++) { split(row[i], part, "|"); margin[part[3]] = part[2] }
    }
    FNR == NR { committed[FNR] = $0; lines = FNR; next }
    {
      measured = $0
      given = committed[FNR]
      if (given == measured) next
      key = words(measured)
      sub(/^\| /, "", key)
      if (words(given) == words(measured) && margin[key] > 0) {
        a = number(figure(given)); b = number(figure(measured))
        if (b >= a * (1 - margin[key] / 100) && b <= a * (1 + margin[key] / 100)) next
      }
      printf("figures: FAILED: %s has\n  %s\nwhere this build measures\n  %s\n", table, given, measured) > "/dev/stderr"
      wrong = 1
    }
    END { if (FNR != lines) { print "figures: " table " has " lines " lines, this build " FNR > "/dev/stderr"; wrong = 1 }
          exit wrong }' "$table" "$work/table"; then
  echo "figures: if the change is meant, run scripts/controller-figures.sh --write $dir and commit $table" >&2
  exit 1
fi
echo "figures: $table is what $dir measures"
