# kor_add_gtest(NAME SOURCES ... LIBS ...): one GoogleTest executable, one CTest test.
# Under the win32 preset CTest runs it through Wine (CMAKE_CROSSCOMPILING_EMULATOR).
function(kor_add_gtest name)
  cmake_parse_arguments(ARG "" "WORKING_DIRECTORY" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} gtest gmock gtest_main)
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/src ${CMAKE_SOURCE_DIR}/tests)
  target_compile_definitions(${name} PRIVATE
    KOR_SOURCE_DIR="${CMAKE_SOURCE_DIR}" KOR_BINARY_DIR="${CMAKE_BINARY_DIR}")
  set(wd ${CMAKE_BINARY_DIR})
  if(ARG_WORKING_DIRECTORY)
    set(wd ${ARG_WORKING_DIRECTORY})
  endif()
  add_test(NAME ${name} COMMAND ${name} WORKING_DIRECTORY ${wd})
  if(CMAKE_CROSSCOMPILING_EMULATOR)
    # Under Wine the program writes its report where scripts/wine-run looks for it: a program
    # that never started (a loader that cannot run it may print nothing and end with 0) fails
    # instead of passing.  The report also tells which cases skipped themselves, and why.
    set(report ${CMAKE_BINARY_DIR}/gtest-reports/${name}.xml)
    set_property(TEST ${name} APPEND PROPERTY ENVIRONMENT
      "GTEST_OUTPUT=xml:Z:${report}" "KOR_EXPECT_REPORT=${report}")
  endif()
  if(ARG_LABELS)
    set_tests_properties(${name} PROPERTIES LABELS "${ARG_LABELS}")
  endif()
endfunction()

# kor_library(NAME DEPS ...): a static library of every .cpp in the folder,
# plus the win32/ or posix/ subfolder of the current target.  Folders grow without edits here.
function(kor_library name)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  file(GLOB srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.c)
  if(WIN32)
    file(GLOB osrcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/win32/*.cpp)
  else()
    file(GLOB osrcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/posix/*.cpp)
  endif()
  if(srcs OR osrcs)
    add_library(${name} STATIC ${srcs} ${osrcs})
    target_include_directories(${name} PUBLIC ${CMAKE_SOURCE_DIR}/src)
    target_link_libraries(${name} PUBLIC ${ARG_DEPS})
  else()
    # A folder whose sources are still to come: headers only.
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${CMAKE_SOURCE_DIR}/src)
    target_link_libraries(${name} INTERFACE ${ARG_DEPS})
  endif()
endfunction()

# kor_add_subdirs(): add every immediate sub-folder that has a CMakeLists.txt, so folders of
# tests, plug-ins and benchmarks grow without edits to their parent.
macro(kor_add_subdirs)
  file(GLOB _kor_dirs LIST_DIRECTORIES true CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*)
  foreach(_kor_dir ${_kor_dirs})
    if(IS_DIRECTORY ${_kor_dir} AND EXISTS ${_kor_dir}/CMakeLists.txt)
      add_subdirectory(${_kor_dir})
    endif()
  endforeach()
endmacro()

# kor_add_spi(NAME SOURCES ... [OUTPUT_DIR dir] [LIBS ...]): a Susie plug-in NAME.spi for the
# current target.  Win32: a DLL with undecorated __stdcall exports (--kill-at) and only system
# DLLs imported; native: an ELF shared object linked to the local-memory library.  Plug-ins
# land in <build>/spi unless OUTPUT_DIR says otherwise, so test fixtures never sit beside the
# program, where its own-folder search would find them.
function(kor_add_spi name)
  cmake_parse_arguments(ARG "" "OUTPUT_DIR" "SOURCES;LIBS" ${ARGN})
  add_library(${name} SHARED ${ARG_SOURCES})
  set(out ${CMAKE_BINARY_DIR}/spi)
  if(ARG_OUTPUT_DIR)
    set(out ${ARG_OUTPUT_DIR})
  endif()
  set_target_properties(${name} PROPERTIES PREFIX "" SUFFIX ".spi"
    RUNTIME_OUTPUT_DIRECTORY ${out} LIBRARY_OUTPUT_DIRECTORY ${out})
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/src)
  if(WIN32)
    target_link_options(${name} PRIVATE -Wl,--kill-at -static -static-libgcc -static-libstdc++)
  else()
    target_link_libraries(${name} PRIVATE korlocal)
  endif()
  target_link_libraries(${name} PRIVATE ${ARG_LIBS})
endfunction()

# kor_core_libs: everything portable, for tools, benchmarks and fuzzers.
set(KOR_CORE_LIBS kor_graphics kor_plugins kor_runner kor_picture kor_rtl kor_platform)
