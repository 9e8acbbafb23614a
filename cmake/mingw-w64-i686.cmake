# Cross-builds for 32-bit Windows with Debian's mingw-w64 compiler (the posix
# thread model, which std::thread and std::mutex need) and runs the results
# under wine. Everything is linked statically, so that the programs need no
# MinGW DLL beside them.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)

set(LAPSE_MINGW_TRIPLET i686-w64-mingw32)
set(CMAKE_C_COMPILER ${LAPSE_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${LAPSE_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${LAPSE_MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${LAPSE_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# try_run, add_test and test discovery start the programs through wine.
find_program(LAPSE_WINE wine REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${LAPSE_WINE})
