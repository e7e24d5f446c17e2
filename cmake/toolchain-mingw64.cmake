# Cross-compiles a 64-bit Windows build of the same tree.  The product stays 32-bit; this build
# runs the Windows tests under wine64 on machines that cannot execute 32-bit programs.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(KOR_MINGW_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw.cmake)
