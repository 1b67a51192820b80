# Cross-builds for 64-bit Windows with Debian's mingw-w64 (POSIX thread model) and runs the
# built programs under Wine:
#   cmake -S . -B build-windows --toolchain cmake/MingwToolchain.cmake
# MingwToolchainX86.cmake sets WARDEX_MINGW_PROCESSOR to i686 first, for 32-bit Windows.
# Libraries built for Windows (scripts/setup windows puts them in build-windows/deps/ and
# build-windows-x86/deps/) are found through CMAKE_PREFIX_PATH.
if(NOT WARDEX_MINGW_PROCESSOR)
  set(WARDEX_MINGW_PROCESSOR x86_64)
endif()
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${WARDEX_MINGW_PROCESSOR})

set(_mingw ${WARDEX_MINGW_PROCESSOR}-w64-mingw32)
set(CMAKE_C_COMPILER ${_mingw}-gcc-posix)
set(CMAKE_CXX_COMPILER ${_mingw}-g++-posix)
set(CMAKE_RC_COMPILER ${_mingw}-windres)

# Headers and libraries come from the mingw tree and the prefixes given for this target,
# never from the build machine; programs (code generators, scripts) from the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/${_mingw} ${CMAKE_PREFIX_PATH})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Without the static runtime a program or DLL needs libwinpthread-1.dll and the compiler's
# DLLs beside it, and a DLL without them does not load.
foreach(_kind EXE SHARED MODULE)
  set(CMAKE_${_kind}_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
endforeach()

# CTest and test discovery start the programs through Wine, in a prefix of this build.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine-run ${CMAKE_BINARY_DIR}/wine)
