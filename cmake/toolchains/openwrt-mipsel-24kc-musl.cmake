# Cross build with an OpenWrt SDK's toolchain for the controllers: MIPS32r2 (24Kc),
# little-endian, o32, soft float, musl. For building by hand against an SDK; the package in
# packaging/openwrt needs no toolchain file, the SDK's cmake.mk sets all of this itself.
#
#   export STAGING_DIR=/path/to/openwrt-sdk/staging_dir   # the SDK's compilers want it
#   cmake -S . -B build-openwrt -DVELK_BUILD_TESTS=OFF \
#     -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/openwrt-mipsel-24kc-musl.cmake \
#     -DOPENWRT_SDK=/path/to/openwrt-sdk
#
# OPENWRT_SDK falls back to the environment, then to the parent of $STAGING_DIR, then to the
# SDK that scripts/openwrt-toolchain.sh keeps in its cache ($VELK_OPENWRT_CACHE/sdk, by default
# /var/cache/velk/openwrt-sdk/sdk), as the presets "openwrt" and "package" use it. The
# toolchain and target directories are found under staging_dir; OPENWRT_TOOLCHAIN_DIR and
# OPENWRT_TARGET_DIR name them outright where an SDK holds several.

if(NOT OPENWRT_SDK)
  if(DEFINED ENV{VELK_OPENWRT_CACHE})
    set(velk_openwrt_cache_sdk "$ENV{VELK_OPENWRT_CACHE}/sdk")
  else()
    set(velk_openwrt_cache_sdk "/var/cache/velk/openwrt-sdk/sdk")
  endif()
  if(DEFINED ENV{OPENWRT_SDK})
    set(OPENWRT_SDK "$ENV{OPENWRT_SDK}")
  elseif(DEFINED ENV{STAGING_DIR})
    get_filename_component(OPENWRT_SDK "$ENV{STAGING_DIR}/.." ABSOLUTE)
  elseif(EXISTS "${velk_openwrt_cache_sdk}/.velk-stamp")
    set(OPENWRT_SDK "${velk_openwrt_cache_sdk}")
  else()
    message(FATAL_ERROR "Set OPENWRT_SDK (or STAGING_DIR) to the OpenWrt SDK's location, or "
                        "build one with scripts/openwrt-toolchain.sh")
  endif()
endif()
# try_compile projects read this file again and need the location too.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES
     OPENWRT_SDK OPENWRT_TOOLCHAIN_DIR OPENWRT_TARGET_DIR)

function(velk_openwrt_dir variable pattern)
  if(${variable})
    return()
  endif()
  file(GLOB found LIST_DIRECTORIES true "${OPENWRT_SDK}/staging_dir/${pattern}")
  list(LENGTH found count)
  if(NOT count EQUAL 1)
    message(FATAL_ERROR "Expected one ${OPENWRT_SDK}/staging_dir/${pattern}, found: "
                        "'${found}'; set ${variable}")
  endif()
  set(${variable} "${found}" PARENT_SCOPE)
endfunction()
velk_openwrt_dir(OPENWRT_TOOLCHAIN_DIR "toolchain-mipsel_24kc_gcc-*_musl")
velk_openwrt_dir(OPENWRT_TARGET_DIR "target-mipsel_24kc_musl")

set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR mipsel)

set(VELK_OPENWRT_TRIPLE mipsel-openwrt-linux-musl)
set(CMAKE_C_COMPILER "${OPENWRT_TOOLCHAIN_DIR}/bin/${VELK_OPENWRT_TRIPLE}-gcc")
set(CMAKE_CXX_COMPILER "${OPENWRT_TOOLCHAIN_DIR}/bin/${VELK_OPENWRT_TRIPLE}-g++")
foreach(tool AR RANLIB NM READELF OBJDUMP OBJCOPY STRIP)
  string(TOLOWER ${tool} name)
  set(CMAKE_${tool} "${OPENWRT_TOOLCHAIN_DIR}/bin/${VELK_OPENWRT_TRIPLE}-${name}"
      CACHE FILEPATH "")
endforeach()

# The daemon is built this way; the plug-in must match its float ABI to be bound to it.
set(CMAKE_C_FLAGS_INIT "-march=mips32r2 -mtune=24kc -mabi=32 -EL -msoft-float")
set(CMAKE_CXX_FLAGS_INIT "-march=mips32r2 -mtune=24kc -mabi=32 -EL -msoft-float")

# Libraries and packages (jsoncpp, Boost's headers) from the SDK's target staging
# directory, programs from the build machine.
set(CMAKE_FIND_ROOT_PATH "${OPENWRT_TARGET_DIR}" "${OPENWRT_TOOLCHAIN_DIR}")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# Paths into the SDK mean nothing on the controller: installed files carry none. The build
# tree keeps its own, so that its tests find the stand-in and the SDK's libraries.
set(CMAKE_SKIP_INSTALL_RPATH ON)
set(ENV{PKG_CONFIG_SYSROOT_DIR} "${OPENWRT_TARGET_DIR}")
set(ENV{PKG_CONFIG_LIBDIR} "${OPENWRT_TARGET_DIR}/usr/lib/pkgconfig")

# The controllers' kernels use 4 KiB pages. The MIPS linker's default page is 64 KiB, and with
# OpenWrt's RELRO hardening (-Wl,-z,relro) it pads the plug-in to a 64 KiB boundary: 73 KB
# stripped where 4 KiB pages give 52 KB. A kernel with larger pages needs this line removed.
foreach(kind EXE SHARED MODULE)
  set(CMAKE_${kind}_LINKER_FLAGS_INIT "-Wl,-z,max-page-size=4096")
endforeach()

# Where user-mode emulation is at hand, target programs (tests, gtest's discovery) run under
# it on the controllers' own core, the 24Kc, which has no FPU: a floating-point instruction
# anywhere (plug-in, libstdc++, musl, libgcc) fails there as it would on the controller.
# musl's loader comes from the toolchain, the libraries from both directories.
find_program(VELK_QEMU_MIPSEL qemu-mipsel)
if(VELK_QEMU_MIPSEL)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${VELK_QEMU_MIPSEL} -cpu 24Kc -L ${OPENWRT_TOOLCHAIN_DIR}
      -E LD_LIBRARY_PATH=${OPENWRT_TOOLCHAIN_DIR}/${VELK_OPENWRT_TRIPLE}/lib:${OPENWRT_TARGET_DIR}/usr/lib)
endif()
