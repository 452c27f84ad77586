#!/usr/bin/env bash
# Installs, with apt-get, whatever of the build's Debian packages is missing.
# The transcripts need tzdata for the zones with leap seconds (right/UTC).
# Usage: scripts/install-deps.sh [native] [fuzz] [mips] [openwrt] [counter]   (default: native)
set -euo pipefail

groups=("$@")
[[ ${#groups[@]} -eq 0 ]] && groups=(native)

packages=()
for group in "${groups[@]}"; do
  case "$group" in
    native) packages+=(g++ cmake ninja-build pkg-config libjsoncpp-dev libboost-dev libgtest-dev
                       libgmock-dev libbenchmark-dev binutils abigail-tools rapidjson-dev python3-cram tzdata) ;;
    fuzz) packages+=(clang libclang-rt-14-dev) ;;
    # Boost's headers are the native package's: the mipsel -dev cannot sit beside it, and
    # the headers are the same for every architecture.
    mips) packages+=(cmake ninja-build libboost-dev rapidjson-dev g++-mipsel-linux-gnu binutils-mipsel-linux-gnu
                     qemu-user libjsoncpp-dev:mipsel libgtest-dev:mipsel libgmock-dev:mipsel
                     abigail-tools python3-cram tzdata) ;;
    # The controllers' own toolchain, built from Debian's sources (scripts/openwrt-toolchain.sh).
    openwrt) packages+=(cmake ninja-build make g++ libboost-dev gcc-12-source binutils-mipsel-linux-gnu
                        linux-libc-dev-mipsel-cross libgmp-dev libmpfr-dev libmpc-dev flex bison
                        texinfo dpkg-dev xz-utils googletest qemu-user rapidjson-dev python3-cram tzdata) ;;
    # The instruction counter: a qemu-user plug-in built here from one header of qemu's source.
    counter) packages+=(gcc qemu-user dpkg-dev xz-utils) ;;
    *) echo "install-deps: unknown group '$group'" >&2; exit 2 ;;
  esac
done

for group in "${groups[@]}"; do
  if [[ $group == mips ]] && ! dpkg --print-foreign-architectures | grep -qx mipsel; then
    dpkg --add-architecture mipsel
  fi
done

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
    missing+=("$package")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

if [[ $(id -u) -ne 0 ]]; then
  echo "install-deps: missing packages: ${missing[*]}; run as root or install them" >&2
  exit 1
fi
# Standard output may be a program's own output (run-example.sh): apt's output goes to a log,
# and one line on standard error says what is happening and where to look.
log=$(mktemp "${TMPDIR:-/tmp}/velk-install-deps.XXXXXX.log")
echo "install-deps: installing ${missing[*]} (a few minutes; log: $log)" >&2
export DEBIAN_FRONTEND=noninteractive
if ! { apt-get update -q && apt-get install -y -q --no-remove "${missing[@]}"; } >"$log" 2>&1; then
  tail -n 20 "$log" >&2
  echo "install-deps: installation failed; the whole log is $log" >&2
  exit 1
fi
