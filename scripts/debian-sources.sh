#!/usr/bin/env bash
# Makes `apt-get source` work: adds source entries for the machine's own archive, in a file of
# our own, once, and updates the package lists. Used by the scripts that build from Debian's
# source packages (openwrt-toolchain.sh, instruction-counter.sh).
set -euo pipefail

src_list=/etc/apt/sources.list.d/velk-deb-src.sources
# The name an earlier version of the toolchain script gave it.
old_list=/etc/apt/sources.list.d/velk-openwrt-deb-src.sources
[[ -f $old_list && ! -f $src_list ]] && mv "$old_list" "$src_list"
[[ -f $src_list ]] && exit 0
if [[ $(id -u) -ne 0 ]]; then
  echo "debian-sources: needs root once, to add $src_list for apt-get source" >&2
  exit 1
fi
{
  for f in /etc/apt/sources.list.d/*.sources; do
    [[ $f == "$src_list" || ! -f $f ]] && continue
    sed -n '/^Types:.*\bdeb\b/,/^$/p' "$f" | sed 's/^Types:.*/Types: deb-src/'
    echo
  done
  if [[ -f /etc/apt/sources.list ]]; then
    awk '$1 == "deb" && $2 !~ /^\[/ {
           print "Types: deb-src\nURIs: " $2 "\nSuites: " $3 "\nComponents: " $4 "\n"}' \
      /etc/apt/sources.list
  fi
} > "$src_list.tmp"
mv "$src_list.tmp" "$src_list"
echo "debian-sources: added source entries in $src_list; updating the package lists" >&2
apt-get update -q >/dev/null
