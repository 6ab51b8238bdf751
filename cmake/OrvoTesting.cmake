# orvo_add_qtest(NAME SOURCES ... [LIBS ...] [LABELS ...] [ENVIRONMENT ...] [TIMEOUT s]
#                [IN_TESTENV])
# One QtTest executable = one ctest.  LABELS: "unit" for in-process tests, "e2e" for tests
# that run inside the private namespace, "threaded" for what also runs under ThreadSanitizer.
# IN_TESTENV runs the test inside scripts/testenv/orvo-testenv (private CUPS, install root
# and network).
find_package(Qt5 REQUIRED COMPONENTS Test)

function(orvo_add_qtest name)
    cmake_parse_arguments(T "IN_TESTENV" "TIMEOUT" "SOURCES;LIBS;LABELS;ENVIRONMENT" ${ARGN})
    add_executable(${name} ${T_SOURCES})
    target_link_libraries(${name} PRIVATE Qt5::Test ${T_LIBS})
    target_link_libraries(${name} PRIVATE orvo_warnings)
    target_compile_definitions(${name} PRIVATE
        ORVO_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
        ORVO_BINARY_DIR="${PROJECT_BINARY_DIR}"
        ORVO_TEST_DATA_DIR="${PROJECT_SOURCE_DIR}/tests/data")
    if(T_IN_TESTENV)
        # End-to-end tests start the real service binary, whose CUPS notifier the private
        # scheduler runs.
        add_dependencies(${name} orvo-statusd orvo-cups-notifier)
        add_test(NAME ${name}
                 COMMAND ${CMAKE_COMMAND} -E env
                         ORVO_TESTENV_NOTIFIER=$<TARGET_FILE:orvo-cups-notifier>
                         ${PROJECT_SOURCE_DIR}/scripts/testenv/orvo-testenv -- $<TARGET_FILE:${name}>)
    else()
        add_test(NAME ${name} COMMAND ${name})
    endif()
    if(NOT T_LABELS)
        set(T_LABELS unit)
    endif()
    if(NOT T_TIMEOUT)
        set(T_TIMEOUT 300)
    endif()
    set_tests_properties(${name} PROPERTIES LABELS "${T_LABELS}" TIMEOUT ${T_TIMEOUT})
    if("threaded" IN_LIST T_LABELS)
        set_property(GLOBAL APPEND PROPERTY ORVO_THREADED_TESTS ${name})
    endif()
    # English whatever the language of whoever runs the tests: orvo-status speaks the user's.
    set(env "QT_QPA_PLATFORM=offscreen" "LANG=C.UTF-8" "LANGUAGE=" "LC_ALL=" "LC_MESSAGES="
            ${T_ENVIRONMENT})
    if(ORVO_SANITIZER STREQUAL "thread")
        list(APPEND env "TSAN_OPTIONS=suppressions=${PROJECT_SOURCE_DIR}/tests/tsan.supp halt_on_error=1 second_deadlock_stack=1"
                        # glib's slice allocator recycles memory between threads in ways
                        # ThreadSanitizer cannot follow; plain malloc it can.
                        "G_SLICE=always-malloc")
    elseif(ORVO_SANITIZER STREQUAL "address")
        list(APPEND env "ASAN_OPTIONS=detect_leaks=1:abort_on_error=0"
                        "UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1"
                        "LSAN_OPTIONS=suppressions=${PROJECT_SOURCE_DIR}/tests/lsan.supp")
    endif()
    set_tests_properties(${name} PROPERTIES ENVIRONMENT "${env}")
endfunction()

# Called once after every test folder: the ThreadSanitizer preset builds only these.
function(orvo_finish_tests)
    get_property(threaded GLOBAL PROPERTY ORVO_THREADED_TESTS)
    add_custom_target(orvo_threaded_tests)
    if(threaded)
        add_dependencies(orvo_threaded_tests ${threaded})
    endif()
    # End-to-end tests start the real service binary.
    add_dependencies(orvo_threaded_tests orvo-statusd orvo-cups-notifier)
endfunction()
