# Shared by the ABI scripts (abi-check.sh, abi-baseline.sh, abi-daemon-headers.sh); sourced.
# The ABI recorded is that of the probe library abi/velk_abi_probe.so: the plug-in's view of
# every type and host function it shares with the daemon (abi/abi_probe.cpp).

abi_baseline_file() {  # abi_baseline_file TARGET
  echo "abi/baseline/$1.abi"
}

# abi_build_args BUILD_DIR TARGET: the arguments of abi-check.sh and abi-baseline.sh, read
# before they leave the caller's directory: sets dir (absolute), target, baseline (relative to
# the checkout) and current (the build's own ABI file).
abi_build_args() {
  [[ $# -eq 2 ]] || { echo "usage: $0 BUILD_DIR TARGET" >&2; exit 2; }
  dir=$(realpath -m "$1") target=$2
  baseline=$(abi_baseline_file "$target")
  current=$dir/abi/$target.abi
}

# abi_dump BUILD_DIR OUTPUT: builds the probe in the configured BUILD_DIR and writes its ABI to
# OUTPUT, free of this checkout's paths (file names only in locations).
abi_dump() {
  local dir=$1 out=$2 log
  if ! log=$(cmake --build "$dir" --target velk_abi_probe 2>&1); then
    printf '%s\n' "$log" >&2
    echo "abi: building the ABI probe in $dir failed" >&2
    return 1
  fi
  abidw --no-corpus-path --no-comp-dir-path --short-locs --out-file "$out" \
    "$dir/abi/velk_abi_probe.so"
}

# abi_diff OLD NEW: abidiff's report of every difference, harmless ones included; status 0
# when there is none.
abi_diff() {
  abidiff --harmless "$1" "$2"
}
