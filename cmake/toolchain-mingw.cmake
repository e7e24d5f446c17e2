# What both Windows cross-builds share (Debian's mingw-w64, posix threads model): the toolchain
# file of each build names its processor and target triple and includes this one.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${KOR_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KOR_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${KOR_MINGW_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${KOR_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# Tests run under Wine, with the prefix kept inside the build folder; scripts/wine-run picks
# 32- or 64-bit Wine from the program it is given.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run)
