# Cross toolchain for 64-bit Windows with the posix thread model of MinGW-w64,
# so that std::thread is available.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(VELNOR_MINGW_PREFIX x86_64-w64-mingw32)

find_program(CMAKE_C_COMPILER NAMES ${VELNOR_MINGW_PREFIX}-gcc-posix)
find_program(CMAKE_CXX_COMPILER NAMES ${VELNOR_MINGW_PREFIX}-g++-posix)
find_program(CMAKE_RC_COMPILER NAMES ${VELNOR_MINGW_PREFIX}-windres)
if(NOT CMAKE_C_COMPILER OR NOT CMAKE_CXX_COMPILER OR NOT CMAKE_RC_COMPILER)
  message(FATAL_ERROR "MinGW-w64 posix compilers not found: install g++-mingw-w64-x86-64-posix")
endif()

set(CMAKE_FIND_ROOT_PATH /usr/${VELNOR_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
