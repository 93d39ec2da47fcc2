# Fails unless the DLL exports exactly createDev and deleteDev, imports only
# from system DLLs (no MinGW runtime DLL a host would lack), and turns off
# thread notifications at load time.
# cmake -DOBJDUMP=<objdump> -DDLL=<quorlix.dll> -P CheckDll.cmake
cmake_minimum_required(VERSION 3.25)
execute_process(COMMAND ${OBJDUMP} -p ${DLL} OUTPUT_VARIABLE dump RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "objdump -p failed on ${DLL}")
endif()
string(REGEX MATCHALL "[^\n]+" lines "${dump}")

set(exports "")
set(imports "")
set(in_names OFF)
foreach(line IN LISTS lines)
  if(line MATCHES "^\\[Ordinal/Name Pointer\\] Table")
    set(in_names ON)
  elseif(in_names AND line MATCHES "^[ \t]+\\[ *[0-9]+\\] (.+)$")
    list(APPEND exports "${CMAKE_MATCH_1}")
  elseif(in_names)
    set(in_names OFF)
  endif()
  if(line MATCHES "DLL Name: (.+)$")
    string(TOLOWER "${CMAKE_MATCH_1}" name)
    list(APPEND imports "${name}")
  endif()
endforeach()

list(SORT exports)
if(NOT "${exports}" STREQUAL "createDev;deleteDev")
  message(FATAL_ERROR "${DLL} exports: ${exports}")
endif()

set(system_dlls kernel32.dll msvcrt.dll ntdll.dll advapi32.dll user32.dll ws2_32.dll)
foreach(name IN LISTS imports)
  if(NOT name IN_LIST system_dlls)
    message(FATAL_ERROR "${DLL} needs ${name}, which a host's system does not have")
  endif()
endforeach()

if(NOT dump MATCHES "[ \t]DisableThreadLibraryCalls[\r\n]")
  message(FATAL_ERROR "${DLL} does not call DisableThreadLibraryCalls: its DllMain is not linked")
endif()
message(STATUS "exports: ${exports}; imports: ${imports}")
