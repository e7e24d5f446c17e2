# The Windows package of an edition (win32 or win64 by the build's bitness): a ZIP of the
# programs, both plug-in helpers, the bundled plug-in of the edition's bitness, a short bilingual
# README and the licence (CPack's ZIP generator; scripts/package makes it).  Text files get Windows line
# ends and a UTF-8 byte order mark, so every Notepad shows the Japanese half right.
if(NOT WIN32)
  return()
endif()

set(_kor_pkg ${CMAKE_BINARY_DIR}/package)
string(ASCII 239 187 191 KOR_BOM)
set(KOR_VERSION ${PROJECT_VERSION})
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(KOR_EDITION_BITS 64)
  set(KOR_IFWIC ifwic.sph)
else()
  set(KOR_EDITION_BITS 32)
  set(KOR_IFWIC ifwic.spi)
endif()
configure_file(${CMAKE_SOURCE_DIR}/packaging/README.txt ${_kor_pkg}/README.txt @ONLY NEWLINE_STYLE CRLF)
file(READ ${CMAKE_SOURCE_DIR}/LICENSE _kor_licence)
string(REPLACE "\n" "\r\n" _kor_licence "${_kor_licence}")
file(WRITE ${_kor_pkg}/LICENSE.txt "${KOR_BOM}${_kor_licence}")
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/LICENSE)
install(FILES ${_kor_pkg}/README.txt ${_kor_pkg}/LICENSE.txt DESTINATION .)

foreach(_kor_target Korvale2 korconv korspi)
  if(TARGET ${_kor_target})
    install(TARGETS ${_kor_target} RUNTIME DESTINATION .)
  endif()
endforeach()
if(TARGET ifwic)
  install(TARGETS ifwic RUNTIME DESTINATION .)
endif()
# The other bitness's helper, stripped where it was linked (tools/korspi).
if(KOR_OTHER_HELPER)
  install(PROGRAMS ${KOR_OTHER_HELPER} DESTINATION .)
endif()

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME Korvale2)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_FILE_NAME Korvale2-${PROJECT_VERSION}-win${KOR_EDITION_BITS})
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_STRIP_FILES ON)  # the debugging symbols stay in the build folder
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_SOURCE_DIR}/dist)
include(CPack)
