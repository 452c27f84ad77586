#!/usr/bin/env bash
# Checks the OpenWrt package (packaging/openwrt/velk-temperature) without an OpenWrt SDK, none
# being at hand, through a stand-in for the SDK's make includes that runs the package's own
# steps: its licence, maintainer and version fields (the version must be the CMake project's);
# the choice of device headers, each printed with its folder; Build/Prepare, which must copy the
# tree the feed sits in as it is (an uncommitted file included) without git, leaving out .git
# and the build directories; then the copy configured with the package's CMake options and the
# SDK's toolchain, flags and hardening (the CMake preset "package"), built (the plug-in and
# nothing else), installed as the SDK installs it, and Package/install, which must take the
# plug-in to /usr/lib/dran/plugins. Every folder of the tree that the build read must be in
# PKG_FILE_DEPENDS, or an edit there would not be built without a clean.
# Usage: packaging/check-openwrt-package.sh BUILD_DIR
#   The build directory is kept between runs: the copy keeps the tree's file times, so an
#   unchanged tree builds nothing again.
set -euo pipefail
[[ $# -eq 1 ]] || { echo "usage: $0 BUILD_DIR" >&2; exit 2; }
dir=$(realpath -m "$1")
cd "$(dirname "$0")/.."
tree=$PWD
package=$tree/packaging/openwrt/velk-temperature
sdk=$dir/sdk
fail() {
  echo "openwrt-package: FAILED: $*" >&2
  exit 1
}

# The SDK's includes, as far as the package uses them.
rm -rf "$sdk"
mkdir -p "$sdk/include"
cat >"$sdk/rules.mk" <<'MK'
INCLUDE_DIR:=$(TOPDIR)/include
BUILD_DIR:=$(TOPDIR)/build_dir
STAGING_DIR:=$(TOPDIR)/staging_dir
INSTALL_DIR:=install -d -m0755
INSTALL_BIN:=install -m0755
MK
cat >"$sdk/include/package.mk" <<'MK'
PKG_BUILD_DIR:=$(BUILD_DIR)/$(PKG_NAME)-$(PKG_VERSION)
PKG_INSTALL_DIR:=$(PKG_BUILD_DIR)/ipkg-install
define BuildPackage
fields:
	@echo 'PKG_VERSION=$(PKG_VERSION)'
	@echo 'PKG_LICENSE=$(PKG_LICENSE)'
	@echo 'PKG_MAINTAINER=$(PKG_MAINTAINER)'
	@echo 'PKG_BUILD_DEPENDS=$(PKG_BUILD_DEPENDS)'
	@echo 'PKG_FILE_DEPENDS=$(PKG_FILE_DEPENDS)'
	@echo 'PKG_BUILD_DIR=$(PKG_BUILD_DIR)'
	@echo 'PKG_INSTALL_DIR=$(PKG_INSTALL_DIR)'
	@echo 'CMAKE_OPTIONS=$(CMAKE_OPTIONS)'
	@echo 'TARGET_LDFLAGS=$(TARGET_LDFLAGS)'
prepare:
	$(Build/Prepare)
configure:
	$(Build/Configure)
install:
	$(call Package/$(1)/install,$(TOPDIR)/root)
endef
MK
# The SDK's CMake configuration is run below, from the script.
printf 'define Build/Configure/Default\nendef\n' >"$sdk/include/cmake.mk"
sdk_make() { make --no-print-directory -C "$package" TOPDIR="$sdk" "$@"; }
# field NAME [MAKE_ARGUMENT...]: a field as the package sets it.
field() {
  local name=$1
  shift
  sdk_make fields "$@" | sed -n "s/^$name=//p"
}

for name in PKG_LICENSE PKG_MAINTAINER PKG_VERSION; do
  [[ -n $(field $name) ]] || fail "the package has no $name"
done
[[ $(field PKG_MAINTAINER) =~ ^[^\<]+\ \<[^@\>]+@[^\>]+\>$ ]] ||
  fail "PKG_MAINTAINER is not 'Name <address>': $(field PKG_MAINTAINER)"

# The device headers: host/ of the copy unless the package is told otherwise, the choice
# printed with its folder; the daemon's staged headers, or a folder named, built against with
# the package that stages them first and their edits seen.
copy=$(field PKG_BUILD_DIR)
# headers_choice DIR [MAKE_ARGUMENT...]: the package, so set, builds against DIR and says so.
headers_choice() {
  local folder=$1 said
  shift
  said=$(sdk_make configure "$@")
  [[ $said == *"device headers in $folder "* ]] ||
    fail "with ${*:-no setting}, Build/Configure says '$said', not the folder $folder"
  if [[ $folder == "$copy/host" ]]; then
    [[ $(field CMAKE_OPTIONS "$@") != *VELK_HOST_INCLUDE_DIR* ]] ||
      fail "with ${*:-no setting}, the package names other headers to CMake: $(field CMAKE_OPTIONS "$@")"
    return
  fi
  [[ " $(field CMAKE_OPTIONS "$@") " == *" -DVELK_HOST_INCLUDE_DIR=$folder "* ]] ||
    fail "with $*, CMake is not given $folder: $(field CMAKE_OPTIONS "$@")"
  [[ " $(field PKG_FILE_DEPENDS "$@") " == *" $folder "* ]] ||
    fail "with $*, PKG_FILE_DEPENDS leaves out $folder"
  [[ " $(field PKG_BUILD_DEPENDS "$@") " == *" daemon-headers "* ]] ||
    fail "with $*, the package that stages the headers is not built first: $(field PKG_BUILD_DEPENDS "$@")"
}
headers_choice "$copy/host"
headers_choice "$sdk/staging_dir/usr/include/dran" VELK_HEADERS=staged VELK_HEADERS_PACKAGE=daemon-headers
headers_choice /opt/dran/include VELK_HEADERS=/opt/dran/include VELK_HEADERS_PACKAGE=daemon-headers
echo "openwrt-package: the device headers are host/ unless VELK_HEADERS names others, the folder printed" >&2

# Something uncommitted, and a build directory, in the tree as the package finds it.
marker=velk-package-check.$$
scratch=build-package-check.$$
trap 'rm -rf "$tree/$marker" "$tree/$scratch"' EXIT
echo "not committed" >"$tree/$marker"
mkdir -p "$tree/$scratch"
echo "a build product" >"$tree/$scratch/product"
echo "openwrt-package: Build/Prepare into $copy" >&2
rm -rf "$sdk/build_dir"
sdk_make prepare >/dev/null
for left_out in .git "$scratch" build out; do
  [[ ! -e $copy/$left_out ]] || fail "Build/Prepare copied $left_out"
done
[[ -f $copy/$marker ]] || fail "Build/Prepare left out the uncommitted $marker"
# Everything else is there, alike.
differences=$(diff -rq --no-dereference "$tree" "$copy" |
  grep -Ev "^Only in $tree: (\.git|build[^/]*|out)$" || true)
[[ -z $differences ]] || fail "the copy differs from the tree:"$'\n'"$differences"
rm -f "$tree/$marker"

# The SDK's CMake steps: configure with the package's options and link flags (the SDK gives the
# prefix /usr), build everything, install into PKG_INSTALL_DIR; then the package's install.
build=$dir/build
echo "openwrt-package: building the copy with the package's options in $build (log: $dir/build.log)" >&2
read -ra options <<<"$(field CMAKE_OPTIONS)"
# The preset adds the SDK's hardening to these.
export LDFLAGS
LDFLAGS=$(field TARGET_LDFLAGS)
rm -f "$build/CMakeCache.txt"  # the package's options alone, none left from a run before
if ! { cmake -S "$copy" -B "$build" --preset package -DCMAKE_INSTALL_PREFIX=/usr "${options[@]}" &&
  cmake --build "$build" && DESTDIR=$(field PKG_INSTALL_DIR) cmake --install "$build"; } >"$dir/build.log" 2>&1; then
  tail -n 30 "$dir/build.log" >&2
  fail "the copy does not build with the package's options (log: $dir/build.log)"
fi
# The plug-in alone, whatever else is installed: no tool of the tree's is built for the package.
built=$(cd "$build" && find . -name CMakeFiles -prune -o -type f \
  \( -name '*.so*' -o -name '*.a' -o -perm -u+x \) -print | sort)
[[ $built == ./bin/velk_temperature.so ]] || fail "the package builds more than the plug-in:"$'\n'"$built"
project_version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
[[ $(field PKG_VERSION) == "$project_version" ]] ||
  fail "PKG_VERSION is $(field PKG_VERSION), the CMake project's version $project_version"

# What the build read of the copy: every source and header compiled, every CMake file of the
# configuration. Each must lie in a folder (or be a file) of PKG_FILE_DEPENDS.
read -ra depends <<<"$(field PKG_FILE_DEPENDS)"
covered=()
for depend in "${depends[@]}"; do covered+=("$(realpath -m "$depend")"); done
read_files=$( {
  ninja -C "$build" -t deps | awk '/^    / { print $1 }'
  awk '/^build build\.ninja: RERUN_CMAKE/ { for (i = 5; i <= NF; i++) print $i }' "$build/build.ninja"
} | grep "^$copy/" | sort -u)
[[ -n $read_files ]] || fail "no file of the copy read by its build: the check reads nothing"
uncovered=""
while read -r file; do
  in_tree=$tree/${file#"$copy/"}
  found=0
  for depend in "${covered[@]}"; do
    [[ $in_tree == "$depend" || $in_tree == "$depend"/* ]] && found=1 && break
  done
  ((found)) || uncovered+="${in_tree#"$tree/"}"$'\n'
done <<<"$read_files"
[[ -z $uncovered ]] || fail "PKG_FILE_DEPENDS leaves out what the build reads:"$'\n'"$uncovered"

sdk_make install >/dev/null
installed=$sdk/root/usr/lib/dran/plugins/velk_temperature.so
[[ -f $installed ]] || fail "Package/install did not install $installed"
symbols=$(readelf --dyn-syms -W "$installed")
grep -q ' get_providers$' <<<"$symbols" || fail "$installed defines no get_providers"
echo "openwrt-package: the package copies the tree as it is and installs the plug-in" \
  "(version $project_version, licence $(field PKG_LICENSE)); PKG_FILE_DEPENDS covers the" \
  "$(wc -l <<<"$read_files") files of the tree that its build reads"
