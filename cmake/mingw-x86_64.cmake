# Cross-build the Windows plug-in with MinGW-w64 (x86_64).
set(_quorlix_mingw_cpu x86_64)
set(_quorlix_wine_prefix win64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
