# zem_add_test(<name> SOURCES <files...> LIBRARIES <targets...>)
# One test executable per area, run by CTest without a display.
# The programs' own files (the test history, settings, the likely faults'
# cache) stay in the build tree.
set(zem_test_environment "QT_QPA_PLATFORM=offscreen" "XDG_DATA_HOME=${CMAKE_BINARY_DIR}/test-data"
    "XDG_CACHE_HOME=${CMAKE_BINARY_DIR}/test-cache")
if(ZEM_SANITIZE)
    # Qt and the system libraries under it are not instrumented; the
    # suppressions name only their frames, so a leak of ours still fails.
    list(APPEND zem_test_environment
        "ASAN_OPTIONS=detect_stack_use_after_return=1"
        "UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1"
        "LSAN_OPTIONS=suppressions=${PROJECT_SOURCE_DIR}/tests/lsan.supp:print_suppressions=0")
endif()

# A test that starts a helper process (the virtual gantry) forks with its
# threads running; QProcess's child only execs, so the fork is allowed.
if(ZEM_TSAN)
    list(APPEND zem_test_environment
        "TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1:die_after_fork=0:suppressions=${PROJECT_SOURCE_DIR}/tests/tsan.supp")
endif()

function(zem_add_test name)
    cmake_parse_arguments(ARG "" "" "SOURCES;LIBRARIES" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE ${ARG_LIBRARIES})
    # A test's own code does little work: unoptimised, it compiles in well
    # under two thirds of the time, and stays fully debuggable. The code under
    # test keeps the build's flags. Instrumented trees keep theirs for all.
    if(NOT (ZEM_SANITIZE OR ZEM_TSAN OR ZEM_FUZZ))
        target_compile_options(${name} PRIVATE -O0)
        set_target_properties(${name} PROPERTIES ZEM_UNOPTIMISED ON)
    endif()
    if(zem_double IN_LIST ARG_LIBRARIES)
        set_target_properties(${name} PROPERTIES ZEM_LIBRARY zem_double)
    endif()
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES ENVIRONMENT "${zem_test_environment}")
    set_property(GLOBAL APPEND PROPERTY ZEM_TEST_TARGETS ${name})
endfunction()

# zem_slow_tests(<name>...): tests that take more than about ten seconds, so
# that `ctest -LE slow` leaves them out of a quick local run. CI runs them all.
function(zem_slow_tests)
    set_property(TEST ${ARGN} APPEND PROPERTY LABELS slow)
endfunction()

# zem_add_valgrind_test(<name> COMMAND <command...>)
# A test whose command runs a program under ${ZEM_MEMCHECK}, valgrind's
# memcheck set so that any memory error or definitely lost block fails.
# Registered only where valgrind is installed and the build is not sanitized
# (the two do not mix); labelled "valgrind", so `ctest -L valgrind` runs them.
find_program(ZEM_VALGRIND valgrind)
set(ZEM_MEMCHECK ${ZEM_VALGRIND} --error-exitcode=1 --leak-check=full
                 --errors-for-leak-kinds=definite --quiet)
if(ZEM_VALGRIND AND NOT ZEM_SANITIZE)
    set(ZEM_HAVE_MEMCHECK ON)
else()
    set(ZEM_HAVE_MEMCHECK OFF)
endif()

function(zem_add_valgrind_test name)
    cmake_parse_arguments(ARG "" "" "COMMAND" ${ARGN})
    if(NOT ZEM_HAVE_MEMCHECK)
        return()
    endif()
    add_test(NAME ${name} COMMAND ${ARG_COMMAND})
    set_tests_properties(${name} PROPERTIES LABELS valgrind ENVIRONMENT "${zem_test_environment}")
endfunction()
