# Cross-compiles the 32-bit Windows build, the product.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(KOR_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw.cmake)
