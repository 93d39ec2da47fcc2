# A 32-bit build on a 64-bit machine runs its programs natively where the
# kernel can (most x86-64 kernels), and under qemu-i386 only where it cannot.
# Decided on each configure by running a small 32-bit program (the kernel or
# QUORLIX_M32_EMULATE may have changed since); an emulator given on the
# command line is kept as it is.
if(DEFINED QUORLIX_M32_EMULATOR_CHOSEN AND "${CMAKE_CROSSCOMPILING_EMULATOR}" STREQUAL "${QUORLIX_M32_EMULATOR_CHOSEN}")
  unset(CMAKE_CROSSCOMPILING_EMULATOR CACHE)
endif()
unset(QUORLIX_M32_EMULATOR_CHOSEN CACHE)
if(NOT CMAKE_SIZEOF_VOID_P EQUAL 4 OR CMAKE_CROSSCOMPILING OR WIN32 OR DEFINED CMAKE_CROSSCOMPILING_EMULATOR)
  return()
endif()

# QUORLIX_M32_EMULATE=1 in the environment takes the emulated path on any
# kernel, to try on one machine what a kernel without 32-bit support gets.
if("$ENV{QUORLIX_M32_EMULATE}" STREQUAL "1")
  set(_run_result 3)
  set(_compile_result TRUE)
else()
  set(_probe ${CMAKE_BINARY_DIR}/CMakeFiles/run32/probe.c)
  file(WRITE ${_probe} "int main(void) { return sizeof(void *) == 4 ? 0 : 1; }\n")
  try_run(_run_result _compile_result ${CMAKE_BINARY_DIR}/CMakeFiles/run32 ${_probe})
  # A registered qemu-i386 handler takes 32-bit programs before the kernel's
  # own loader does: they ran, but emulated, and the tests must know it.
  set(_handler /proc/sys/fs/binfmt_misc/qemu-i386)
  if(_compile_result AND "${_run_result}" STREQUAL "0" AND EXISTS ${_handler})
    file(STRINGS ${_handler} _state LIMIT_COUNT 1)
    if("${_state}" STREQUAL "enabled")
      set(_run_result 2)
    endif()
  endif()
endif()

if(_compile_result AND "${_run_result}" STREQUAL "0")
  message(STATUS "32-bit programs run natively on this kernel")
  return()
endif()
if(NOT _compile_result)
  message(FATAL_ERROR "Cannot build a 32-bit program: install g++-multilib (scripts/install-deps m32)")
endif()
find_program(QEMU_I386 qemu-i386)
if(NOT QEMU_I386)
  message(FATAL_ERROR "This kernel cannot run 32-bit programs and qemu-i386 is missing: install qemu-user (scripts/install-deps m32)")
endif()
if("${_run_result}" STREQUAL "3")
  message(STATUS "32-bit programs: QUORLIX_M32_EMULATE=1, tests run under ${QEMU_I386}")
elseif("${_run_result}" STREQUAL "2")
  message(STATUS "32-bit programs run here through qemu-i386 (binfmt_misc); tests run under ${QEMU_I386}")
else()
  message(STATUS "32-bit programs cannot run on this kernel; tests run under ${QEMU_I386}")
endif()
set(CMAKE_CROSSCOMPILING_EMULATOR "${QEMU_I386};-L;/" CACHE STRING "Runs the 32-bit test programs" FORCE)
set(QUORLIX_M32_EMULATOR_CHOSEN "${CMAKE_CROSSCOMPILING_EMULATOR}" CACHE INTERNAL "")
