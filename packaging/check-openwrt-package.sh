#!/usr/bin/env bash
# Checks the OpenWrt package (packaging/openwrt/velk-temperature) without an OpenWrt SDK, none
# being at hand, through a stand-in for the SDK's make includes that runs the package's own
# steps: its licence and maintainer fields; Build/Prepare, which must copy the tree the feed sits
# in as it is (an uncommitted file included) without git, leaving out .git and the build
# directories; then the copy configured with the package's CMake options, built (the plug-in
# and nothing else), installed as the SDK installs it, and Package/install, which must take the
# plug-in to /usr/lib/dran/plugins.
# Usage: packaging/check-openwrt-package.sh BUILD_DIR [CMAKE_OPTION...]
#   The compiler is CMake's default unless the options name a toolchain; LDFLAGS from the
#   environment come before the package's. The build directory is kept between runs: the copy
#   keeps the tree's file times, so an unchanged tree builds nothing again.
set -euo pipefail
[[ $# -ge 1 ]] || { echo "usage: $0 BUILD_DIR [CMAKE_OPTION...]" >&2; exit 2; }
dir=$(realpath -m "$1")
shift
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
	@echo 'PKG_LICENSE=$(PKG_LICENSE)'
	@echo 'PKG_MAINTAINER=$(PKG_MAINTAINER)'
	@echo 'PKG_BUILD_DIR=$(PKG_BUILD_DIR)'
	@echo 'PKG_INSTALL_DIR=$(PKG_INSTALL_DIR)'
	@echo 'CMAKE_OPTIONS=$(CMAKE_OPTIONS)'
	@echo 'TARGET_LDFLAGS=$(TARGET_LDFLAGS)'
prepare:
	$(Build/Prepare)
install:
	$(call Package/$(1)/install,$(TOPDIR)/root)
endef
MK
: >"$sdk/include/cmake.mk"
sdk_make() { make --no-print-directory -C "$package" TOPDIR="$sdk" "$@"; }

fields=$(sdk_make fields)
field() { sed -n "s/^$1=//p" <<<"$fields"; }
for name in PKG_LICENSE PKG_MAINTAINER; do
  [[ -n $(field $name) ]] || fail "the package has no $name"
done
[[ $(field PKG_MAINTAINER) =~ ^[^\<]+\ \<[^@\>]+@[^\>]+\>$ ]] ||
  fail "PKG_MAINTAINER is not 'Name <address>': $(field PKG_MAINTAINER)"

# Something uncommitted, and a build directory, in the tree as the package finds it.
marker=velk-package-check.$$
scratch=build-package-check.$$
trap 'rm -rf "$tree/$marker" "$tree/$scratch"' EXIT
echo "not committed" >"$tree/$marker"
mkdir -p "$tree/$scratch"
echo "a build product" >"$tree/$scratch/product"
echo "openwrt-package: Build/Prepare into $(field PKG_BUILD_DIR)" >&2
rm -rf "$sdk/build_dir"
sdk_make prepare >/dev/null
copy=$(field PKG_BUILD_DIR)
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
echo "openwrt-package: building the copy with the package's options in $dir/build (log: $dir/build.log)" >&2
read -ra options <<<"$(field CMAKE_OPTIONS)"
export LDFLAGS="${LDFLAGS:+$LDFLAGS }$(field TARGET_LDFLAGS)"
rm -f "$dir/build/CMakeCache.txt"  # the package's options alone, none left from a run before
if ! { cmake -S "$copy" -B "$dir/build" -DCMAKE_INSTALL_PREFIX=/usr -DCMAKE_BUILD_TYPE=Release \
  "${options[@]}" "$@" && cmake --build "$dir/build" -j"$(nproc)" &&
  DESTDIR=$(field PKG_INSTALL_DIR) cmake --install "$dir/build"; } >"$dir/build.log" 2>&1; then
  tail -n 30 "$dir/build.log" >&2
  fail "the copy does not build with the package's options (log: $dir/build.log)"
fi
# The plug-in alone, whatever else is installed: no tool of the tree's is built for the package.
built=$(cd "$dir/build" && find . -name CMakeFiles -prune -o -type f \
  \( -name '*.so*' -o -name '*.a' -o -perm -u+x \) -print | sort)
[[ $built == ./bin/velk_temperature.so ]] || fail "the package builds more than the plug-in:"$'\n'"$built"
sdk_make install >/dev/null
installed=$sdk/root/usr/lib/dran/plugins/velk_temperature.so
[[ -f $installed ]] || fail "Package/install did not install $installed"
symbols=$(readelf --dyn-syms -W "$installed")
grep -q ' get_providers$' <<<"$symbols" || fail "$installed defines no get_providers"
echo "openwrt-package: the package copies the tree as it is and installs the plug-in" \
  "(licence $(field PKG_LICENSE))"
