#!/usr/bin/env bash
# The plug-in's dynamic symbol table is a contract with the daemon: it defines get_providers
# and nothing else, and everything it leaves undefined is the daemon's device interface,
# jsoncpp, or the C and C++ runtime.
# Usage: check_plugin_symbols.sh READELF PLUGIN [C_LIBRARY]
# C_LIBRARY names a C library whose symbols carry no version (musl): an unversioned
# undefined symbol is then runtime only where that library defines it.
set -euo pipefail
readelf=$1
plugin=$2
c_library=${3:-}

# One line per named symbol that another module can bind to: section (UND when undefined),
# type, name, demangled name. Some targets (MIPS) also list local symbols in the dynamic
# table for their GOT; the loader never binds to those.
table=$("$readelf" --dyn-syms --wide "$plugin" |
  awk '$1 ~ /^[0-9]+:$/ && $8 != "" && $5 != "LOCAL" { print $7 "\t" $4 "\t" $8 }')
[[ -n $table ]] || { echo "no dynamic symbols read from $plugin" >&2; exit 1; }
table=$(paste <(printf '%s\n' "$table") <(cut -f3 <<<"$table" | c++filt))

# Runtime symbols carry the version of the library they come from.
runtime_version='@(GLIBC|GLIBCXX|CXXABI|GCC)_[0-9.]+$'
# Unversioned references that the C runtime start files make.
runtime_weak='^(__gmon_start__|_ITM_(de)?registerTMCloneTable|_Jv_RegisterClasses)$'
# What an unversioned C library defines, one name a line.
c_library_symbols=
if [[ -n $c_library ]]; then
  c_library_symbols=$("$readelf" --dyn-syms --wide "$c_library" |
    awk '$1 ~ /^[0-9]+:$/ && $7 != "UND" && $8 != "" && $5 != "LOCAL" { print $8 }')
  [[ -n $c_library_symbols ]] || { echo "no symbols read from $c_library" >&2; exit 1; }
fi
in_c_library() { [[ -n $c_library_symbols ]] && grep -qxF -- "$1" <<<"$c_library_symbols"; }
# What the daemon supplies (its device classes and get_ttime) and jsoncpp, demangled.
host_interface='^((vtable|typeinfo|typeinfo name) for )?(Dran(V|AI)Device(::|$)|get_ttime\(|Json::)'

failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

defined_get_providers=0
undefined_host=()
while IFS=$'\t' read -r section type name demangled; do
  if [[ $section != UND ]]; then
    if [[ $name == get_providers && $type == FUNC ]]; then
      defined_get_providers=1
    else
      fail "defined but not part of the contract: $demangled ($type)"
    fi
  elif [[ $demangled =~ $host_interface ]]; then
    undefined_host+=("$demangled")
  elif ! [[ $name =~ $runtime_version || $name =~ $runtime_weak ]] && ! in_c_library "$name"; then
    fail "undefined and neither host interface, jsoncpp nor runtime: $demangled"
  fi
done <<<"$table"

[[ $defined_get_providers -eq 1 ]] || fail "get_providers is not defined as a function"

# The other direction: the daemon's services stay undefined here and are bound at load time.
for required in 'get_ttime(' 'DranAIDevice::DranAIDevice()' 'DranVDevice::SendSP(' \
                'DranVDevice::SaveDeviceHistory(' 'vtable for DranAIDevice'; do
  found=0
  for symbol in "${undefined_host[@]}"; do
    [[ $symbol == "$required"* ]] && found=1 && break
  done
  [[ $found -eq 1 ]] || fail "host symbol not left undefined for load time: $required"
done

count=$(wc -l <<<"$table")
if [[ $failures -gt 0 ]]; then
  echo "$failures contract violation(s) among $count dynamic symbols" >&2
  exit 1
fi
echo "symbol contract holds for $count dynamic symbols (${#undefined_host[@]} from the host and jsoncpp)"
