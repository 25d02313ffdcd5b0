# Runs PROGRAM with OPTION and checks its standard error and exit status exactly.
execute_process(COMMAND ${PROGRAM} ${OPTION} RESULT_VARIABLE status
                OUTPUT_VARIABLE out ERROR_VARIABLE err TIMEOUT 20)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "exit status ${status}")
endif()
if(NOT out STREQUAL "")
    message(FATAL_ERROR "unexpected standard output: ${out}")
endif()
string(REGEX MATCH "^Kelpmoor: [^\n]+\nstarting kelpmoor build on [A-Z][a-z][a-z] [ 0-9][0-9] [0-9][0-9][0-9][0-9]\noptions:\n -js \"URL1;URL2;...\"\n$" ok "${err}")
if(NOT ok)
    message(FATAL_ERROR "unexpected standard error:\n${err}")
endif()
