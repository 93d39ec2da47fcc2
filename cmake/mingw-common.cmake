# What both MinGW-w64 toolchain files share; they set _quorlix_mingw_cpu
# (i686, x86_64) and _quorlix_wine_prefix (win32, win64) first.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${_quorlix_mingw_cpu})

set(CMAKE_C_COMPILER ${_quorlix_mingw_cpu}-w64-mingw32-gcc)
set(CMAKE_CXX_COMPILER ${_quorlix_mingw_cpu}-w64-mingw32-g++)
set(CMAKE_RC_COMPILER ${_quorlix_mingw_cpu}-w64-mingw32-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${_quorlix_mingw_cpu}-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Test programs run under Wine, in the repository's prefix for this architecture.
get_filename_component(_quorlix_repo "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR "${_quorlix_repo}/scripts/wine-run;${_quorlix_wine_prefix}")
