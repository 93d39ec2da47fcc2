# Test programs of a Windows cross build. Included by tests/ only, so the
# plug-in keeps the default compiler variant.

# GoogleTest needs std::mutex, which only MinGW's -posix variant has: everything
# under tests/ is compiled and linked with it (statically, so Wine finds no
# missing runtime DLLs).
set(CMAKE_C_COMPILER_LAUNCHER ${CMAKE_CURRENT_LIST_DIR}/mingw-posix-threads)
set(CMAKE_CXX_COMPILER_LAUNCHER ${CMAKE_CURRENT_LIST_DIR}/mingw-posix-threads)
set_property(DIRECTORY PROPERTY RULE_LAUNCH_LINK ${CMAKE_CURRENT_LIST_DIR}/mingw-posix-threads)
string(APPEND CMAKE_EXE_LINKER_FLAGS " -static")
string(APPEND CMAKE_MODULE_LINKER_FLAGS " -static")

# They run under Wine (the emulator set by the toolchain file). A Wine start
# costs about a second for 64-bit programs and most of a minute for 32-bit
# ones under qemu, so each program is one test. Wine's exit code alone proves
# nothing (a 32-bit program without wine32 exits 0 having printed nothing): a
# test passes only on GoogleTest's own summary and fails on any failed case or
# a non-zero exit (reported by the emulator).
# quorlix_add_wine_test(TARGET [EMULATOR_OPTIONS option...] [ARGS arg...])
function(quorlix_add_wine_test name)
  cmake_parse_arguments(PARSE_ARGV 1 wine "" "" "EMULATOR_OPTIONS;ARGS")
  add_test(NAME ${name}
    COMMAND ${CMAKE_CROSSCOMPILING_EMULATOR} ${wine_EMULATOR_OPTIONS} $<TARGET_FILE:${name}> ${wine_ARGS})
  set_tests_properties(${name} PROPERTIES
    PASS_REGULAR_EXPRESSION "\\[  PASSED  \\] [0-9]+ tests?\\."
    FAIL_REGULAR_EXPRESSION "\\[  FAILED  \\];wine-run: "
    TIMEOUT 900)
endfunction()
