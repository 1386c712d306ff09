# Checks the Windows artifact as a host's loader sees it: exactly the two exports, and imports
# only from system DLLs. Run with -DOBJDUMP=... -DDLL=...
execute_process(COMMAND ${OBJDUMP} -p ${DLL} OUTPUT_VARIABLE dump RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "objdump failed on ${DLL}")
endif()

# The name table runs from its heading to the next blank line.
string(FIND "${dump}" "[Ordinal/Name Pointer] Table" start)
string(SUBSTRING "${dump}" ${start} -1 table)
string(FIND "${table}" "\n\n" stop)
string(SUBSTRING "${table}" 0 ${stop} table)
string(REGEX MATCHALL "\\[ *[0-9]+\\] [^\n]+" exports "${table}")
set(names "")
foreach(line IN LISTS exports)
    string(REGEX REPLACE "\\[ *[0-9]+\\] " "" name "${line}")
    list(APPEND names "${name}")
endforeach()
if(NOT names STREQUAL "MP_GetFactory;_MP_GetFactory@4")
    message(FATAL_ERROR "exports are '${names}', expected exactly MP_GetFactory and _MP_GetFactory@4")
endif()

include(${CMAKE_CURRENT_LIST_DIR}/system-imports.cmake)
require_system_imports("${dump}" "${DLL}")
message(STATUS "exports: ${names}")
