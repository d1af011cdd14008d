# GoogleTest from Debian's sources, built with whichever compiler this build uses
# (the host g++ with sanitizers, or the MinGW cross compiler).
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

if(WIN32)
  # ctest runs the cross-built test programs through this wrapper under Wine.
  set(VELNOR_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)
  set(VELNOR_WINE_RUN ${CMAKE_SOURCE_DIR}/cmake/wine-run.sh)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${VELNOR_WINE_RUN} CACHE FILEPATH "" FORCE)
endif()

# velnor_add_test(<name> SOURCES <files...> LIBS <targets...> [ENV <VAR=value...>]
#                 [LABELS <labels...>] [TIMEOUT <seconds>])
#
# Natively every GoogleTest case becomes its own CTest test. Under Wine each
# start of a program costs a second or more, so a Windows test program is one
# CTest test that runs all of its cases in one process.
function(velnor_add_test name)
  cmake_parse_arguments(ARG "" "TIMEOUT" "SOURCES;LIBS;ENV;LABELS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest_main)
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 300)
  endif()
  if(WIN32)
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES
      ENVIRONMENT "VELNOR_WINEPREFIX=${VELNOR_WINEPREFIX};${ARG_ENV}"
      LABELS "windows;${ARG_LABELS}" TIMEOUT ${ARG_TIMEOUT})
  else()
    include(GoogleTest)
    gtest_discover_tests(${name}
      PROPERTIES ENVIRONMENT "${ARG_ENV}" LABELS "native;${ARG_LABELS}" TIMEOUT ${ARG_TIMEOUT})
  endif()
endfunction()
