# Cross build for the controllers' CPU with Debian's mipsel-linux-gnu toolchain: MIPS32r2,
# little-endian, o32, hard float as Debian builds its mipsel port (the controllers' own
# userland is soft float: see openwrt-mipsel-24kc-musl.cmake for that ABI). Libraries come from
# Debian's multiarch packages (libjsoncpp-dev:mipsel, libgtest-dev:mipsel, ...); tests run
# under qemu-mipsel, so ctest drives the suite unchanged.
#
#   cmake -S . -B build-mips -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/mipsel-linux-gnu.cmake

set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR mipsel)

set(VELK_MIPS_TRIPLE mipsel-linux-gnu)
set(CMAKE_C_COMPILER ${VELK_MIPS_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${VELK_MIPS_TRIPLE}-g++)
# Binary tools of the target, for tests that inspect the built library.
foreach(tool AR RANLIB NM READELF OBJDUMP OBJCOPY STRIP)
  string(TOLOWER ${tool} name)
  find_program(CMAKE_${tool} ${VELK_MIPS_TRIPLE}-${name} REQUIRED)
endforeach()

# The controllers' instruction set; the o32 ABI and little-endian order are the compiler's
# defaults and are pinned too, so a differently configured compiler cannot slip through.
set(CMAKE_C_FLAGS_INIT "-march=mips32r2 -mabi=32 -EL")
set(CMAKE_CXX_FLAGS_INIT "-march=mips32r2 -mabi=32 -EL")

# Debian multiarch: the target's libraries and package configurations live in
# /usr/lib/mipsel-linux-gnu beside the build machine's own, with no separate sysroot.
set(CMAKE_LIBRARY_ARCHITECTURE ${VELK_MIPS_TRIPLE})

# Boost cannot be installed for mipsel beside the native Boost, and the project only uses
# its headers, which are the same for every architecture. FindBoost's header search finds
# them in /usr/include; the native Boost's CMake package (which names x86-64 libraries) is
# never consulted.
set(Boost_NO_BOOST_CMAKE ON)

# Run target programs (tests, and gtest's test discovery when ctest runs) under user-mode
# emulation. The loader and the C/C++ runtime come from the cross toolchain the programs were
# linked against, searched first so that the loader and libc are one build (libc6:mipsel in the
# multiarch directory, which jsoncpp brings along, may be another Debian revision); jsoncpp
# itself comes from the multiarch directory. Debian's port is hard float: the 24Kf, the
# controllers' core with its FPU. Without the emulator the build still builds; its tests then
# cannot run.
find_program(VELK_QEMU_MIPSEL qemu-mipsel)
if(VELK_QEMU_MIPSEL)
  set(CMAKE_CROSSCOMPILING_EMULATOR
      ${VELK_QEMU_MIPSEL} -cpu 24Kf -L /usr/${VELK_MIPS_TRIPLE}
      -E LD_LIBRARY_PATH=/usr/${VELK_MIPS_TRIPLE}/lib:/usr/lib/${VELK_MIPS_TRIPLE})
endif()
