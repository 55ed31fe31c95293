# Cross-building for 64-bit Windows with Debian's mingw-w64 (posix thread model, so that
# std::thread and std::mutex work), linked statically so that every .exe runs alone, without
# the compiler's runtime DLLs beside it. Programs and tests run under wine through
# scripts/wine-run.sh (ctest's cross-compiling emulator).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(TARVEX_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${TARVEX_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TARVEX_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${TARVEX_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${TARVEX_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# Programs built here run under wine: the tests through ctest, the sample image generator during
# the build. The wrapper gives them a wine prefix of the build's own.
set(CMAKE_CROSSCOMPILING_EMULATOR "${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run.sh"
  CACHE FILEPATH "Runs a Windows program of this build under wine")
