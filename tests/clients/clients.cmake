# Tests of the client libraries, the protocol reference and the example bots. Each runs beside
# a real Kelpmoor that tests/clients/arena.py starts on free ports (under the test display) and
# stops afterwards. Skipped when Python 3 (needed by the harness) is missing; the JavaScript
# ones when Node is missing.
find_program(KELPMOOR_PYTHON NAMES python3)
find_program(KELPMOOR_NODE NAMES node nodejs)
if(NOT KELPMOOR_PYTHON)
    message(STATUS "python3 not found: the client and protocol tests are not built")
    return()
endif()

add_executable(kelpmoor_client_tests ${CMAKE_CURRENT_LIST_DIR}/cpp_client_test.cpp)
target_link_libraries(kelpmoor_client_tests PRIVATE kelpmoor_client GTest::gtest_main)
target_compile_definitions(kelpmoor_client_tests PRIVATE
    MISUSES_TABLE="${CMAKE_CURRENT_LIST_DIR}/misuses.txt")

set(arena ${KELPMOOR_PYTHON} ${CMAKE_CURRENT_LIST_DIR}/arena.py $<TARGET_FILE:kelpmoor> --)
function(kelpmoor_client_test name)
    add_test(NAME ${name} COMMAND ${arena} ${ARGN} WORKING_DIRECTORY ${CMAKE_SOURCE_DIR})
    # The sanitizer builds' program starts and runs slowly: give every test room.
    set_tests_properties(${name} PROPERTIES LABELS "net;clients" TIMEOUT 600
                         ENVIRONMENT "${KELPMOOR_TEST_ENV};KELPMOOR_NODE=${KELPMOOR_NODE}")
endfunction()

kelpmoor_client_test(clients_protocol_reference
    ${KELPMOOR_PYTHON} ${CMAKE_CURRENT_LIST_DIR}/check_docs.py docs/protocol.md)
kelpmoor_client_test(clients_http_reference
    ${KELPMOOR_PYTHON} ${CMAKE_CURRENT_LIST_DIR}/check_docs.py docs/http.md)
kelpmoor_client_test(clients_python
    ${KELPMOOR_PYTHON} -m unittest discover -s clients/python/tests -v)
kelpmoor_client_test(clients_cpp $<TARGET_FILE:kelpmoor_client_tests>)
# The Q key ends the program with status 0 while clients drive and browsers read.
kelpmoor_client_test(quit_while_busy ${KELPMOOR_PYTHON} ${CMAKE_CURRENT_LIST_DIR}/quit_while_busy.py)

# The libraries' errors: one table of misuses, run against each (no arena needed).
add_test(NAME clients_misuses_python
         COMMAND ${KELPMOOR_PYTHON} ${CMAKE_CURRENT_LIST_DIR}/check_misuses.py)
set_tests_properties(clients_misuses_python PROPERTIES LABELS clients)

# Each example bot runs a few seconds and must leave its effect.
set(check_example ${KELPMOOR_PYTHON} ${CMAKE_CURRENT_LIST_DIR}/check_examples.py)
kelpmoor_client_test(example_spiral_painter ${check_example} spiral)
kelpmoor_client_test(example_coin_collector ${check_example} coins $<TARGET_FILE:coin_collector>)

# Lessons written for Python's turtle module, run with kelpmoor.turtle: the capture shows each
# figure where the turtle module draws it.
foreach(lesson square star spiral)
    kelpmoor_client_test(turtle_lesson_${lesson}
        ${KELPMOOR_PYTHON} ${CMAKE_CURRENT_LIST_DIR}/check_lessons.py ${lesson})
endforeach()

# Accents survive the wire.
kelpmoor_client_test(clients_latin1_text ${KELPMOOR_PYTHON} ${CMAKE_CURRENT_LIST_DIR}/check_text.py)

# What needs Node: the JavaScript library and its misuses, the JavaScript bots and the team
# script that runs them, and a Node bot that never closes its connection, which still ends.
if(KELPMOOR_NODE)
    kelpmoor_client_test(clients_js ${KELPMOOR_NODE} --test clients/js/test/)
    add_test(NAME clients_misuses_js COMMAND ${KELPMOOR_NODE} ${CMAKE_CURRENT_LIST_DIR}/check_misuses.mjs)
    set_tests_properties(clients_misuses_js PROPERTIES LABELS clients)
    kelpmoor_client_test(example_wall_follower ${check_example} wall)
    kelpmoor_client_test(example_battle_bot ${check_example} battle)
    kelpmoor_client_test(example_team_vs_robots ${check_example} team)
    kelpmoor_client_test(clients_js_ends_without_close
        ${KELPMOOR_NODE} ${CMAKE_CURRENT_LIST_DIR}/bot_without_close.mjs)
    set_tests_properties(clients_js_ends_without_close PROPERTIES TIMEOUT 300)
endif()
