#!/usr/bin/env bash
# The whole suite on the controllers' own ABI: builds (or reuses) the OpenWrt-equivalent
# toolchain, builds the plug-in, the host stand-in, the runner and every test with it and
# OpenWrt's package flags and hardening, runs them under qemu-mipsel -cpu 24Kc (the
# controllers' core, no FPU) with musl's loader, checks the plug-in's size, runs the OpenWrt
# package's own steps, prints what the plug-in's work costs in instructions and checks the
# figures that docs/daemon-team.md gives of it. Progress goes to standard error, one line a
# step; standard output has what the steps print.
# Usage: scripts/test-openwrt.sh [BUILD_DIR]   (default: build-openwrt)
set -euo pipefail
cd "$(dirname "$0")/.."

dir=${1:-build-openwrt}
jobs=$(nproc)

echo "== controllers' ABI (MIPS32r2 24Kc, soft float, musl, MIPS16) under qemu-mipsel" >&2
echo "-- toolchain: scripts/openwrt-toolchain.sh (17 to 29 minutes the first time)" >&2
sdk=$(bash scripts/openwrt-toolchain.sh | tail -n 1)
counter=$(bash scripts/instruction-counter.sh | tail -n 1)

# What OpenWrt's build gives a mipsel_24kc package (see packaging/openwrt): its target flags
# with MIPS16 on, the SDK's hardening (fortify, stack protector, RELRO, immediate binding), and
# Release with NDEBUG from its cmake.mk. The toolchain file adds the 4 KiB page size.
cflags="-Os -pipe -mno-branch-likely -mips32r2 -mtune=24kc -fno-caller-saves -fno-plt \
-msoft-float -mips16 -minterlink-mips16 -D_FORTIFY_SOURCE=1 -fstack-protector"
hardening_ldflags="-Wl,-z,now -Wl,-z,relro"
openwrt_options=(-DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/toolchains/openwrt-mipsel-24kc-musl.cmake"
  -DOPENWRT_SDK="$sdk" -DCMAKE_BUILD_TYPE=Release
  -DCMAKE_C_FLAGS_RELEASE=-DNDEBUG -DCMAKE_CXX_FLAGS_RELEASE=-DNDEBUG
  -DCMAKE_C_FLAGS="$cflags" -DCMAKE_CXX_FLAGS="$cflags")

echo "-- configuring $dir (log: $dir/configure.log)" >&2
mkdir -p "$dir"
LDFLAGS=$hardening_ldflags cmake -S . -B "$dir" "${openwrt_options[@]}" \
  -DVELK_BUILD_BENCHMARKS=OFF -DVELK_INSTRUCTION_COUNTER="$counter" >"$dir/configure.log"
echo "-- building" >&2
cmake --build "$dir" -j"$jobs"
echo "-- testing under qemu-mipsel -cpu 24Kc" >&2
ctest --test-dir "$dir" -j"$jobs" --output-on-failure --timeout 300
bash scripts/abi-check.sh "$dir" mipsel-openwrt-linux-musl

# The plug-in as the controller's flash holds it: stripped, built with the hardening above.
limit=65536
plugin=$dir/bin/velk_temperature.so
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$sdk"/staging_dir/toolchain-*/bin/mipsel-openwrt-linux-musl-strip -o "$work/stripped" "$plugin"
size=$(stat -c %s "$work/stripped")
if ! grep -q -- '-z,max-page-size=4096' "$dir/CMakeCache.txt" ||
  ! grep -q -- '-z,relro' "$dir/CMakeCache.txt"; then
  echo "size: $dir was configured without the 4 KiB page size or RELRO; remove it and run again" >&2
  exit 1
fi
if ((size > limit)); then
  echo "size: velk_temperature.so stripped is $size bytes, more than $limit" >&2
  exit 1
fi
echo "size: velk_temperature.so stripped, hardened, 4 KiB pages: $size bytes (at most $limit)"

echo "-- the OpenWrt package's own steps (packaging/check-openwrt-package.sh)" >&2
LDFLAGS=$hardening_ldflags bash packaging/check-openwrt-package.sh "$dir-package" \
  "${openwrt_options[@]}"

echo "-- instruction counts (scripts/cost-report.sh)" >&2
bash scripts/cost-report.sh --figures "$work/figures" "$dir"
echo "- size $size" >>"$work/figures"

# The figures of docs/daemon-team.md that this suite measures: the name the measurement has in
# $work/figures, then the document's words around the figure, NUMBER standing for it (a line
# break in the document counts as a space). They are deterministic (the size of one build,
# instructions counted with the clock held still), so each must be what the document writes,
# at the precision it writes it; the document keeps them as prose and tables, with thousands
# separators. Loading is the exception: it moves by some thousands with the path of the
# plug-in, which differs between checkouts, so the document gives it rounded and it must be
# within the percentage given after its name.
doc=docs/daemon-team.md
doc_figures=(
  'size|is NUMBER bytes; `scripts/test-openwrt.sh` fails'
  'sizeof|a device is NUMBER bytes (`sizeof`)'
  'heap|holds NUMBER bytes of heap after the example configuration'
  'round|| a whole round (`process`) | NUMBER |'
  'mandated|| of which: the two log lines the daemon'\''s log must have, each flushed | NUMBER |'
  'stamp|the local-time stamp (`second_clock::local_time`, musl'\''s `localtime_r`) | NUMBER |'
  'services|the six host services a round calls, on the stand-in with no recorder in place | NUMBER |'
  'own|| of which: the plug-in'\''s own part, by difference | NUMBER |'
  'settings|| `InitSetting`, per signal (100 signals, four log lines each) | NUMBER |'
  'restore|| a cache restore (`LoadFromCache`, its round included) | NUMBER |'
  'load 20%|`get_providers`, `create`; it moves with the build'\''s path) | about NUMBER |'
  'runner 10%|events written (not on the controller; it moves with the build'\''s path) | about NUMBER |'
  'object:libc.so|A round by object: musl NUMBER (the time conversion'
  'object:libstdc++.so|`memcpy`), libstdc++ NUMBER (the'
  'object:libvelk_host_standin.so|the stand-in'\''s services NUMBER, the'
  'object:velk_temperature.so|plug-in NUMBER, libgcc'
  'object:libgcc_s.so|libgcc NUMBER (soft-float'
)
# with_commas NUMBER: the number as the document writes it, thousands apart.
with_commas() {
  awk -v x="$1" 'BEGIN { n = split(x, d, "."); s = d[1]
    while (length(s) > 3) { t = "," substr(s, length(s) - 2) t; s = substr(s, 1, length(s) - 3) }
    print s t (n > 1 ? "." d[2] : "") }'
}
echo "-- the figures of $doc" >&2
wrong=0
for entry in "${doc_figures[@]}"; do
  name=${entry%%|*}
  words=${entry#*|}
  tolerance=0
  if [[ $name == *' '*% ]]; then
    tolerance=${name##* }
    tolerance=${tolerance%\%}
    name=${name% *}
  fi
  measured=$(awk -v name="$name" '$2 == name { print $3 }' "$work/figures")
  # How many places have the words with a number for NUMBER, and the number.
  read -r places given < <(awk -v words="$words" '
    { text = text (NR > 1 ? " " : "") $0 }
    END {
      split(words, part, "NUMBER")
      for (p = 1; (i = index(substr(text, p), part[1])) > 0; p += i) {
        rest = substr(text, p + i - 1 + length(part[1]))
        if (match(rest, /^[0-9]+(,[0-9][0-9][0-9])*(\.[0-9]+)?/) &&
            substr(rest, RLENGTH + 1, length(part[2])) == part[2]) {
          places++
          number = substr(rest, 1, RLENGTH)
        }
      }
      print places + 0, number
    }' "$doc")
  if [[ -z $measured ]]; then
    echo "figures: this suite measured no $name" >&2
    wrong=1
  elif ((places != 1)); then
    echo "figures: $doc has $places places, not one, that read: $words" >&2
    wrong=1
  elif ! awk -v given="${given//,/}" -v measured="$measured" -v tolerance="$tolerance" 'BEGIN {
      decimals = index(given, ".") ? length(given) - index(given, ".") : 0
      if (tolerance > 0) exit !(measured >= given * (1 - tolerance / 100) &&
                                measured <= given * (1 + tolerance / 100))
      exit sprintf("%.*f", decimals, measured) != given }'; then
    within=""
    ((tolerance == 0)) || within=" (more than $tolerance% apart)"
    echo "figures: FAILED: $doc gives $given where this build measures" \
      "$(with_commas "$measured")$within: $words" >&2
    wrong=1
  fi
done
((wrong == 0)) || exit 1
echo "figures: the ${#doc_figures[@]} figures of $doc that this suite measures match this build"
