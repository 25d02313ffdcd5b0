# Runs PROGRAM with VARIABLE set to VALUE, a value the variable cannot take: the program must
# refuse it with its message on standard error and exit status 2, before opening any window.
execute_process(COMMAND ${CMAKE_COMMAND} -E env ${VARIABLE}=${VALUE} ${PROGRAM}
                RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err TIMEOUT 20)
if(NOT status EQUAL 2)
    message(FATAL_ERROR "exit status ${status}, expected 2; standard error:\n${err}")
endif()
string(FIND "${err}" "kelpmoor: ${VARIABLE} must be ${ALLOWED}, not \"${VALUE}\"\n" at)
if(at LESS 0)
    message(FATAL_ERROR "unexpected standard error:\n${err}")
endif()
