# Runs a native end-to-end test program (-DPROGRAM=..., -DFILTER=a GoogleTest filter) from a cross
# build's tests; says what to build
# when the native build has not made it yet.
if(NOT EXISTS ${PROGRAM})
    message(FATAL_ERROR "${PROGRAM} is missing: build it first (cmake --build --preset native-debug), "
                        "or point MP_NATIVE_TEST_DIR at the native build's bin folder")
endif()
execute_process(COMMAND ${PROGRAM} --gtest_filter=${FILTER} RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${PROGRAM} failed (${rc})")
endif()
