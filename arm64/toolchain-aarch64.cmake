# Cross-compiling for 64-bit ARM Linux with Debian's aarch64-linux-gnu GCC,
# against the arm64 libraries that arm64/make-sysroot.sh unpacks into
# build-arm64/sysroot (DOTFALL_SYSROOT names another). What is built runs
# here under qemu-user, which finds its libraries in the same root.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
if(NOT DOTFALL_SYSROOT)
  get_filename_component(DOTFALL_SYSROOT "${CMAKE_CURRENT_LIST_DIR}/../build-arm64/sysroot" ABSOLUTE)
endif()
set(DOTFALL_SYSROOT "${DOTFALL_SYSROOT}" CACHE PATH "The arm64 system root (arm64/make-sysroot.sh)")
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES DOTFALL_SYSROOT)
set(CMAKE_SYSROOT "${DOTFALL_SYSROOT}")
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64-static -L "${DOTFALL_SYSROOT}")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# This machine's pkg-config, reading the root's .pc files alone.
set(ENV{PKG_CONFIG_LIBDIR} "${DOTFALL_SYSROOT}/usr/lib/aarch64-linux-gnu/pkgconfig:${DOTFALL_SYSROOT}/usr/share/pkgconfig")
set(ENV{PKG_CONFIG_SYSROOT_DIR} "${DOTFALL_SYSROOT}")
