# GoogleTest from Debian's sources, for the native tests of the portable logic.
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

# velnor_add_test(<name> SOURCES <files...> LIBS <targets...>)
#
# One native GoogleTest program; every case in it becomes its own CTest test.
# (The Windows build's tests are pytest files, registered in tests/.)
function(velnor_add_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest_main)
  include(GoogleTest)
  gtest_discover_tests(${name} PROPERTIES LABELS native TIMEOUT 300)
endfunction()
