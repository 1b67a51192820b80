# Cross-builds for 32-bit Windows (i686) with Debian's mingw-w64, as MingwToolchain.cmake
# does for 64-bit Windows:
#   cmake -S . -B build-windows-x86 --toolchain cmake/MingwToolchainX86.cmake
set(WARDEX_MINGW_PROCESSOR i686)
include(${CMAKE_CURRENT_LIST_DIR}/MingwToolchain.cmake)
