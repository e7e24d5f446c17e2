# Both Windows editions ship both plug-in helpers, and the tests put plug-ins of both bitnesses
# side by side: a Windows build also configures this tree for the other bitness with
# KOR_HELPER_ONLY (the helper and the plug-ins only) in <build>/other, and copies that helper
# beside its own programs.  KOR_OTHER_BIN names the folder of the other build's programs and
# plug-ins (bin/ holds its ifwic; spi/ its fixtures).
include(ExternalProject)
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(KOR_OTHER_BITS 32)
  set(_kor_other_toolchain ${CMAKE_SOURCE_DIR}/cmake/toolchain-mingw32.cmake)
else()
  set(KOR_OTHER_BITS 64)
  set(_kor_other_toolchain ${CMAKE_SOURCE_DIR}/cmake/toolchain-mingw64.cmake)
endif()
set(KOR_OTHER_DIR ${CMAKE_BINARY_DIR}/other)
set(KOR_OTHER_HELPER ${CMAKE_BINARY_DIR}/bin/korspi${KOR_OTHER_BITS}.exe)
ExternalProject_Add(other_bitness
  SOURCE_DIR ${CMAKE_SOURCE_DIR}
  BINARY_DIR ${KOR_OTHER_DIR}
  CMAKE_ARGS -DCMAKE_TOOLCHAIN_FILE=${_kor_other_toolchain} -DCMAKE_BUILD_TYPE=${CMAKE_BUILD_TYPE}
             -DKOR_HELPER_ONLY=ON
  BUILD_COMMAND ${CMAKE_COMMAND} --build <BINARY_DIR>
  INSTALL_COMMAND ${CMAKE_COMMAND} -E copy_if_different <BINARY_DIR>/bin/korspi${KOR_OTHER_BITS}.exe
                  ${CMAKE_BINARY_DIR}/bin/
  BUILD_ALWAYS ON
  BUILD_BYPRODUCTS ${KOR_OTHER_HELPER})
# Whatever runs plug-ins needs both helpers.
add_dependencies(korspi other_bitness)
