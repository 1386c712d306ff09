# Writes shaperhost's bash completion and man page from the program's own option definitions.
# -DPROGRAM=shaperhost -DCOMPLETION=out.bash -DMAN=out.1 -DHELP2MAN=path -DVERSION=x.y -DINCLUDE=commands.h2m
execute_process(COMMAND ${PROGRAM} docs bash OUTPUT_FILE ${COMPLETION} RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "shaperhost docs bash failed: ${result}")
endif()
if(MAN)
    execute_process(COMMAND ${PROGRAM} docs man OUTPUT_FILE ${INCLUDE} RESULT_VARIABLE result)
    if(NOT result EQUAL 0)
        message(FATAL_ERROR "shaperhost docs man failed: ${result}")
    endif()
    execute_process(
        COMMAND ${HELP2MAN} --no-info --version-string=${VERSION} --section=1
                "--name=runs waveshaper modules the way a host does" --include=${INCLUDE} --output=${MAN}
                ${PROGRAM}
        RESULT_VARIABLE result)
    if(NOT result EQUAL 0)
        message(FATAL_ERROR "help2man failed: ${result}")
    endif()
endif()
