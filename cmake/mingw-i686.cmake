# Cross-build the Windows plug-in with MinGW-w64 (i686).
set(_quorlix_mingw_cpu i686)
set(_quorlix_wine_prefix win32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
