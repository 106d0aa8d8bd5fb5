# Cross build for 32-bit Windows with MinGW-w64; test programs run under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(_triple i686-w64-mingw32)
find_program(_mingw_cxx NAMES ${_triple}-g++-posix)
find_program(_mingw_cc NAMES ${_triple}-gcc-posix)
find_program(_mingw_windres NAMES ${_triple}-windres)
if(NOT _mingw_cxx OR NOT _mingw_cc OR NOT _mingw_windres)
  message(FATAL_ERROR "The MinGW-w64 i686 toolchain (${_triple}-g++, -gcc, -windres) is missing: run 'make deps'.")
endif()
set(CMAKE_C_COMPILER ${_mingw_cc})
set(CMAKE_CXX_COMPILER ${_mingw_cxx})
set(CMAKE_RC_COMPILER ${_mingw_windres})

set(CMAKE_FIND_ROOT_PATH /usr/${_triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# CTest runs the Windows test programs through this wrapper (private Wine prefix).
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run)
