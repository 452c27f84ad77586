#!/usr/bin/env bash
# Builds, from Debian's packages only, the controllers' cross toolchain as an OpenWrt SDK for
# mipsel_24kc lays it out: GCC 12 (C, C++, libstdc++) for mipsel-openwrt-linux-musl, soft
# float, musl, Debian's mipsel binutils under the target's names, and jsoncpp, GoogleTest and
# GoogleMock built with it into the target's staging directory.
#
# Usage: scripts/openwrt-toolchain.sh         prints the SDK's directory on its last line
# The SDK is kept in $VELK_OPENWRT_CACHE (default /var/cache/velk/openwrt-sdk) and built
# again only when it is absent or when this script or the Debian sources it builds from
# changed. Each stage prints one line with its time; its full log is in $cache/logs.
set -euo pipefail
cd "$(dirname "$0")/.."

cache=${VELK_OPENWRT_CACHE:-/var/cache/velk/openwrt-sdk}
target=mipsel-openwrt-linux-musl
gcc_version=12.2.0
jobs=$(nproc)
staging=$cache/sdk/staging_dir
toolchain=$staging/toolchain-mipsel_24kc_gcc-${gcc_version}_musl
sysroot=$toolchain                       # the SDK's compiler finds musl in its own directory
target_dir=$staging/target-mipsel_24kc_musl
# What OpenWrt compiles every mipsel_24kc package with (less -fhonour-copts, which only
# OpenWrt's patched GCC knows); MIPS16 is on by default for this target.
openwrt_cflags="-Os -pipe -mno-branch-likely -mips32r2 -mtune=24kc -fno-caller-saves -fno-plt \
-msoft-float -mips16 -minterlink-mips16"

log() { printf 'openwrt-toolchain: %s\n' "$*" >&2; }
die() { log "error: $*"; exit 1; }

bash scripts/install-deps.sh openwrt
bash scripts/debian-sources.sh

srcver() { apt-cache showsrc "$1" | awk '/^Version:/ {print $2; exit}'; }
musl_version=$(srcver musl)
jsoncpp_version=$(srcver libjsoncpp)
[[ -n $musl_version && -n $jsoncpp_version ]] || die "apt-get source cannot see musl or libjsoncpp"
stamp=$( {
  sha256sum < "$0"  # the content only: the same script called by another path is the same
  dpkg-query -W gcc-12-source binutils-mipsel-linux-gnu linux-libc-dev-mipsel-cross googletest
  echo "musl $musl_version libjsoncpp $jsoncpp_version"
} | sha256sum | cut -d' ' -f1)

if [[ -f $cache/sdk/.velk-stamp && $(cat "$cache/sdk/.velk-stamp") == "$stamp" ]]; then
  log "reusing the SDK in $cache/sdk"
  echo "$cache/sdk"
  exit 0
fi

mkdir -p "$cache"
exec 9>"$cache/.lock"
# One build at a time: a second run waits, then finds the SDK ready.
if ! flock -n 9; then
  log "another run is building the SDK in $cache/sdk; waiting for it to finish"
  flock 9
fi
if [[ -f $cache/sdk/.velk-stamp && $(cat "$cache/sdk/.velk-stamp") == "$stamp" ]]; then
  log "reusing the SDK in $cache/sdk, built meanwhile"
  echo "$cache/sdk"
  exit 0
fi

work=$cache/work
# A build of the same inputs that was cut short goes on from its last finished stage.
if [[ -f $work/.velk-stamp && $(cat "$work/.velk-stamp") == "$stamp" ]]; then
  log "resuming the SDK build in $cache/sdk after: $(cd "$work" && ls .done-* 2>/dev/null |
    sed 's/^.done-//' | tr '\n' ' ')"
else
  log "building the SDK in $cache/sdk (17 to 29 minutes on 2 cores, 1.5 GB of disk while building)"
  rm -rf "$cache/sdk" "$work" "$cache/logs"
  mkdir -p "$work" && echo "$stamp" > "$work/.velk-stamp"
fi
mkdir -p "$cache/logs" "$toolchain/bin" "$toolchain/$target/bin" "$target_dir/usr"
# musl's and the packages' builds find the target's tools by their names.
export PATH=$toolchain/bin:$PATH
started=$SECONDS

stage() {  # stage NAME COMMAND...: one line with its time, its output in logs/NAME.log
  local name=$1 t0=$SECONDS
  shift
  [[ -f $work/.done-$name ]] && return 0
  # In the background so that errexit holds inside the stage (a tested command turns it off).
  "$@" > "$cache/logs/$name.log" 2>&1 &
  if ! wait $!; then
    log "stage $name failed after $((SECONDS - t0)) s; the last lines of $cache/logs/$name.log:"
    tail -n 25 "$cache/logs/$name.log" >&2
    exit 1
  fi
  touch "$work/.done-$name"
  log "$(printf '%-16s %5d s' "$name" $((SECONDS - t0)))"
}

binutils() {
  for tool in addr2line ar as c++filt elfedit gprof ld ld.bfd nm objcopy objdump ranlib \
              readelf size strings strip; do
    local real
    real=$(command -v "mipsel-linux-gnu-$tool") || continue
    ln -sf "$real" "$toolchain/bin/$target-$tool"
    ln -sf "$real" "$toolchain/$target/bin/$tool"
  done
}

sources() {
  cd "$work"
  tar -xf /usr/src/gcc-12/gcc-${gcc_version}-dfsg.tar.xz
  # The DFSG tarball leaves the GFDL'd hook documentation empty; Debian's own patch lets the
  # build go on without it.
  patch -d gcc-${gcc_version} -p2 < /usr/src/gcc-12/patches/gcc-gfdl-build.diff
  apt-get source -q "musl=$musl_version" "libjsoncpp=$jsoncpp_version"
}

musl_headers() {
  make -C "$work"/musl-*/ ARCH=mips prefix=/usr DESTDIR="$sysroot" install-headers
  # The kernel's headers only: glibc's share the cross include directory.
  dpkg -L linux-libc-dev-mipsel-cross | grep -E '^/usr/mipsel-linux-gnu/include/[^/]+$' |
    xargs -I{} cp -r {} "$sysroot/usr/include/"
  [[ -d $sysroot/usr/include/linux && -d $sysroot/usr/include/asm ]]
}

gcc_configure() {
  mkdir -p "$work/gcc-build" && cd "$work/gcc-build"
  # The compiler itself is built without debug information: faster, and a third of the disk.
  CFLAGS=-O2 CXXFLAGS=-O2 MAKEINFO=true "../gcc-${gcc_version}/configure" --prefix="$toolchain" --target=$target \
    --with-sysroot="$sysroot" --enable-languages=c,c++ --with-arch=mips32r2 --with-tune=24kc \
    --with-abi=32 --with-float=soft --disable-multilib --disable-bootstrap --disable-nls \
    --disable-libsanitizer --disable-libgomp --disable-libquadmath --disable-libssp \
    --disable-libitm --disable-libvtv --disable-libstdcxx-pch --disable-decimal-float \
    --enable-__cxa_atexit --enable-target-optspace --enable-threads=posix --enable-tls \
    --enable-shared --with-pkgversion="velk OpenWrt-equivalent GCC ${gcc_version}"
}

# libgcc without its shared part first: the shared one needs the C library built with it.
gcc_compiler() { make -C "$work/gcc-build" -j$jobs MAKEINFO=true all-gcc; }
gcc_libgcc() {
  make -C "$work/gcc-build" -j$jobs MAKEINFO=true MAKE="make enable_shared=no" all-target-libgcc
}

musl() {
  local b=$work/gcc-build
  cd "$work"/musl-*/
  ./configure --prefix=/usr --syslibdir=/lib --target=$target CC="$b/gcc/xgcc -B $b/gcc/" \
    LIBCC="$b/$target/libgcc/libgcc.a" \
    CFLAGS="-Os -pipe -mno-branch-likely -mips32r2 -mtune=24kc -fno-caller-saves"
  make -j$jobs
  make DESTDIR="$sysroot" install
  # musl links its loader to an absolute path; qemu's -L and a moved SDK both need it relative.
  ln -sfn ../usr/lib/libc.so "$sysroot/lib/ld-musl-mipsel-sf.so.1"
}

gcc_rest() {
  make -C "$work/gcc-build" -j$jobs MAKEINFO=true
  make -C "$work/gcc-build" MAKEINFO=true install-strip
  "$toolchain/$target/bin/strip" "$toolchain/$target"/lib/libgcc_s.so.1 || true
}

cross_cmake() {  # cross_cmake SOURCE BUILD [cmake options...]: a package for the target dir
  local src=$1 build=$2
  shift 2
  cmake -S "$src" -B "$build" -DCMAKE_SYSTEM_NAME=Linux -DCMAKE_SYSTEM_PROCESSOR=mipsel \
    -DCMAKE_C_COMPILER="$toolchain/bin/$target-gcc" \
    -DCMAKE_CXX_COMPILER="$toolchain/bin/$target-g++" \
    -DCMAKE_C_FLAGS="$openwrt_cflags" -DCMAKE_CXX_FLAGS="$openwrt_cflags" \
    -DCMAKE_BUILD_TYPE=None -DCMAKE_INSTALL_PREFIX=/usr -DCMAKE_INSTALL_LIBDIR=lib \
    -DCMAKE_FIND_ROOT_PATH="$target_dir" "$@"
  cmake --build "$build" -j$jobs
  DESTDIR="$target_dir" cmake --install "$build"
}

jsoncpp() {
  cross_cmake "$(echo "$work"/libjsoncpp-*/)" "$work/jsoncpp-build" -DBUILD_SHARED_LIBS=ON \
    -DBUILD_STATIC_LIBS=OFF -DBUILD_OBJECT_LIBS=OFF -DJSONCPP_WITH_TESTS=OFF \
    -DJSONCPP_WITH_POST_BUILD_UNITTEST=OFF -DJSONCPP_WITH_PKGCONFIG_SUPPORT=ON
}

googletest() {
  cross_cmake /usr/src/googletest "$work/googletest-build" -DBUILD_GMOCK=ON -DINSTALL_GTEST=ON
}

headers() {
  # Boost and RapidJSON are used through their headers only; the SDK stages them for the
  # target, here they are the build machine's, which are the same for every architecture.
  mkdir -p "$target_dir/usr/include"
  ln -sfn /usr/include/boost "$target_dir/usr/include/boost"
  ln -sfn /usr/include/rapidjson "$target_dir/usr/include/rapidjson"
}

stage binutils binutils
stage sources sources
stage musl-headers musl_headers
stage gcc-configure gcc_configure
stage gcc-compiler gcc_compiler
stage gcc-libgcc gcc_libgcc
stage musl musl
stage gcc-libraries gcc_rest
stage jsoncpp jsoncpp
stage googletest googletest
stage headers headers

rm -rf "$work"
echo "$stamp" > "$cache/sdk/.velk-stamp"
log "SDK ready in $((SECONDS - started)) s: $(du -sh "$cache/sdk" | cut -f1) in $cache/sdk"
echo "$cache/sdk"
