# Checks a Windows program as the loader sees it: imports only from system DLLs, so it runs with
# nothing beside it but the module library. Run with -DOBJDUMP=... -DEXE=...
execute_process(COMMAND ${OBJDUMP} -p ${EXE} OUTPUT_VARIABLE dump RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "objdump failed on ${EXE}")
endif()
include(${CMAKE_CURRENT_LIST_DIR}/system-imports.cmake)
require_system_imports("${dump}" "${EXE}")
