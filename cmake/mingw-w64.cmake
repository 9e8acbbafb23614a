# Cross-builds for Windows with Debian's mingw-w64 compilers (the posix
# thread model, which std::thread and std::mutex need) and runs the results
# under wine. Everything is linked statically, so that the programs need no
# MinGW DLL beside them. Included by the toolchain file of each target, which
# sets LAPSE_MINGW_TRIPLET, CMAKE_SYSTEM_PROCESSOR and LAPSE_WINE_LOADER.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${LAPSE_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${LAPSE_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${LAPSE_MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${LAPSE_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
# zlib too: Debian's MinGW zlib comes as a DLL and as a static library.
set(ZLIB_USE_STATIC_LIBS ON)

# add_test and test discovery start the programs through wine's loader for
# the target's word size: Debian's `wine` wrapper always picks the 32-bit one
# when it is installed, even where the kernel cannot run it. Without the
# loader (no 32-bit wine on a machine that runs no 32-bit programs) the
# programs are built and checked, but not run. The loader is started through
# wine-start.sh, which tries again a start that wine failed before the program
# ran.
find_program(LAPSE_WINE NAMES ${LAPSE_WINE_LOADER} PATHS /usr/lib/wine NO_DEFAULT_PATH)
if(LAPSE_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine-start.sh ${LAPSE_WINE})
endif()
