# Every tests/<area>/tst_<name>.cpp is one QtTest executable, registered with
# CTest under the area's label, with a timeout and the offscreen platform.
# Extra sources of a test live beside it as <name>_*.cpp. Each area links the
# libraries it is given. The target tavio_tests builds every test and what it
# needs, and nothing else.
function(tavio_add_qtests area libraries)
    if(NOT TARGET tavio_tests)
        add_custom_target(tavio_tests)
    endif()
    # The timeout only catches a hang. An unoptimised sanitizer build on a
    # busy machine runs the long suites several times slower than a normal
    # build, so it gets more room. QtTest's own per-function watchdog (5 min
    # by default) is given the same limit.
    if(TAVIO_SANITIZE)
        set(timeout 1200)
    else()
        set(timeout 300)
    endif()
    # Allocation stacks are taken by the fast unwinder: the slow one made every
    # allocation cost tens of microseconds, and allocation-heavy suites ran
    # fifteen times slower for it. It finds the same faults; a report whose
    # stacks stop short in Qt's libraries is read again with
    # ASAN_OPTIONS=fast_unwind_on_malloc=0.
    file(GLOB test_sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${area}/tst_*.cpp)
    foreach(source ${test_sources})
        get_filename_component(name ${source} NAME_WE)
        string(REGEX REPLACE "^tst_" "" base ${name})
        file(GLOB extra CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${area}/${base}_*.cpp
                                          ${CMAKE_CURRENT_SOURCE_DIR}/${area}/${base}_*.h)
        add_executable(${name} ${source} ${extra})
        add_dependencies(tavio_tests ${name})
        target_include_directories(${name} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/support)
        target_link_libraries(${name} PRIVATE ${libraries} Qt5::Test)
        target_compile_definitions(${name} PRIVATE TAVIO_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
                                                   TAVIO_VERSION="${PROJECT_VERSION}")
        add_test(NAME ${area}.${base} COMMAND ${name})
        set_tests_properties(${area}.${base} PROPERTIES
            LABELS ${area}
            TIMEOUT ${timeout}
            ENVIRONMENT "QT_QPA_PLATFORM=offscreen;QTEST_FUNCTION_TIMEOUT=${timeout}000;ASAN_OPTIONS=detect_leaks=1:abort_on_error=1;LSAN_OPTIONS=suppressions=${PROJECT_SOURCE_DIR}/tests/lsan.supp:print_suppressions=0;UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1")
    endforeach()
endfunction()
