# The arm64 package, made on this amd64 machine: its architecture is the
# target's, and dpkg-shlibdeps takes the Depends from the arm64 libraries'
# own shlibs and symbols files, through the dpkg database beside the root
# (arm64/make-sysroot.sh) and with the aarch64 objdump, never from this
# machine's packages.
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE arm64)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS
  ${DOTFALL_SYSROOT}/lib/aarch64-linux-gnu ${DOTFALL_SYSROOT}/usr/lib/aarch64-linux-gnu)
file(CONFIGURE OUTPUT cpack-arm64.cmake @ONLY CONTENT [[
include("@CPACK_PROJECT_CONFIG_FILE@")
set(ENV{DEB_HOST_ARCH} arm64)
set(ENV{DPKG_ADMINDIR} "@DOTFALL_SYSROOT@-dpkg")
]])
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_BINARY_DIR}/cpack-arm64.cmake)
