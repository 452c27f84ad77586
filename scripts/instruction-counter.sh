#!/usr/bin/env bash
# Builds the instruction counter, a qemu-user TCG plug-in (costs/instruction_counter.c), for
# this machine and prints its path on the last line. Its one header, qemu-plugin.h, is not
# packaged: it comes from Debian's source package of the installed qemu-user, of which only the
# header is kept, in $VELK_QEMU_PLUGIN_CACHE (default /var/cache/velk/qemu-plugin) by version.
set -euo pipefail
cd "$(dirname "$0")/.."

log() { printf 'instruction-counter: %s\n' "$*" >&2; }

bash scripts/install-deps.sh counter
version=$(dpkg-query -W -f='${source:Version}' qemu-user)
dir=${VELK_QEMU_PLUGIN_CACHE:-/var/cache/velk/qemu-plugin}/${version//:/_}
header=$dir/qemu-plugin.h
if [[ ! -f $header ]]; then
  bash scripts/debian-sources.sh
  log "taking qemu-plugin.h from Debian's qemu $version source package (about 24 MB)"
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
  (cd "$work" && apt-get source -q --download-only "qemu=$version" >/dev/null 2>&1) ||
    { log "apt-get source qemu=$version failed"; exit 1; }
  tar -xJf "$work"/qemu_*.orig.tar.xz -C "$work" --wildcards '*/include/qemu/qemu-plugin.h'
  mkdir -p "$dir"
  cp "$work"/qemu-*/include/qemu/qemu-plugin.h "$header"
fi

# Built again when its source changes.
counter=$dir/libvelk_instruction_counter-$(sha256sum < costs/instruction_counter.c | cut -c1-16).so
if [[ ! -f $counter ]]; then
  gcc -O2 -Wall -Wextra -shared -fPIC -I"$dir" costs/instruction_counter.c -o "$counter.tmp"
  mv "$counter.tmp" "$counter"
fi
echo "$counter"
